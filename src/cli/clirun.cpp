#include "cli/clirun.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <optional>

#include "board/macaddress.h"
#include "board/readback.h"
#include "board/settingtable.h"
#include "board/siteplan.h"
#include "cli/cliargs.h"
#include "cli/output.h"
#include "cli/stdoutlog.h"
#include "core/exceptions.h"
#include "core/inifile.h"
#include "core/posixio.h"
#include "core/settings.h"
#include "label/labelsettings.h"
#include "runner/commandrunner.h"
#include "serial/serialport.h"
#include "serial/serialsession.h"
#include "telnet/telneterrors.h"
#include "telnet/telnetsession.h"

namespace {

// A run refused with the usage error's status: a link that cannot be opened (the port, the
// telnet connect), or a command line that cannot run as it stands (settings out of range).
class ERefusedRun : public Exception {
  public:
    using Exception::Exception;
};

// The counts of a station line, in its order, and of the totals.
const std::pair<const char*, qint64 TStationStats::*> kCounts[] = {
    {"rows", &TStationStats::rows},
    {"ng", &TStationStats::ng},
    {"given", &TStationStats::given},
    {"released", &TStationStats::released},
    {"burned", &TStationStats::burned}};

// The command line's face of the command runner: no dialog (the settings file's values are
// the confirmed ones, checked first), a switch in place of the question, standard error in
// place of a box, standard output as the log pane.
class TCliRun : private TCommandUi, private TLinkSource {
  public:
    // `json` collects the run's JSON object; the caller writes it.
    TCliRun(const TCliArgs& args, const QString& iniPath, QJsonObject& json)
        : a_(args),
          ini_(iniPath),
          params_(LoadSettings(iniPath)),
          runner_(*this, *this, params_, iniPath),
          json_(json) {
        if (a_.address) {
            // The target of this run only: it is never saved, since only the MAC counter is.
            params_.TCPIP1_1 = (*a_.address)[0];
            params_.TCPIP1_2 = (*a_.address)[1];
            params_.TCPIP1_3 = (*a_.address)[2];
            params_.TCPIP1_4 = (*a_.address)[3];
        }
    }

    int Run() {
        int status;
        try {
            status = RunCommand();
        } catch (...) {
            ClosePort();
            throw;
        }
        ClosePort();
        // The ledger's commands have no board's result of their own.
        if (!json_.contains(QStringLiteral("result")))
            json_[QStringLiteral("result")] = status == kExitOk ? "OK" : "NG";
        return status;
    }

  private:
    int RunCommand() {
        switch (a_.command) {
            case TCliCommand::Write:
                return Write();
            case TCliCommand::MacRewrite:
                CheckSettings();
                return Status(runner_.MacRewrite());
            case TCliCommand::Read:
                return Read();
            case TCliCommand::Check:
                return Check();
            case TCliCommand::RomVersion:
                return RomVersion();
            case TCliCommand::RecordStatus:
                return RecordStatus();
            case TCliCommand::RecordExport:
                return RecordExport();
            case TCliCommand::RecordBackup:
                return RecordBackup();
            case TCliCommand::RecordNew:
                if (!QFileInfo(ini_).isFile())
                    throw ERefusedRun(QStringLiteral("settings file %1 not found").arg(ini_));
                for (const QString& line : TLedger::StartAfresh(ini_))
                    PrintLine(line);
                return kExitOk;
            case TCliCommand::BlockSet:
                return BlockSet();
            case TCliCommand::Label:
                return Status(runner_.ReprintLabel(*a_.labelLow));
            case TCliCommand::PlanImport:
            case TCliCommand::PlanCheck:
                return PlanImport();
            case TCliCommand::PlanStatus:
                PrintPlan(runner_.Ledger().Plan());
                return kExitOk;
            case TCliCommand::PlanExport:
                runner_.Ledger().ExportPlan([](const QByteArray& lines) { WriteOut(lines); });
                return kExitOk;
            case TCliCommand::PlanClose:
                PrintPlan(runner_.Ledger().ClosePlan());
                PrintLine(QStringLiteral("closed=yes"));
                json_[QStringLiteral("closed")] = true;
                return kExitOk;
            case TCliCommand::None:
                break;
        }
        return kExitUsage;
    }

    // The serial port closes when the run ends, once the board has echoed its last line: the
    // next run may open it at once.
    void ClosePort() {
        if (serial_)
            serial_->ClosePort();
    }

    // TCommandUi
    TLogPane* Log() override { return &log_; }
    bool ShowsAddress() const override { return false; }
    bool ConfirmWrite(TBoardParams*, bool) override { return true; }
    bool ConfirmMacAddress(TBoardParams* params) override {
        if (a_.mac) {
            params->MacAddr_1 = (*a_.mac)[0];
            params->MacAddr_2 = (*a_.mac)[1];
            params->MacAddr_3 = (*a_.mac)[2];
        }
        return true;
    }
    bool ConfirmCheckAndSet(const TBoardReadback&, TLinkKind, TBoardParams*) override {
        return false;
    }
    bool MayReuse(const TReuseQuestion& question) override {
        const QString& mac = question.mac;
        const TAddressInfo& info = question.info;
        const QString what =
            QStringLiteral("MAC address %1 was %2 on %3 by %4%5")
                .arg(mac,
                     QLatin1String(info.state == TAddressState::Given
                                       ? "given"
                                       : "sent without an answer to save (the board may hold it)"),
                     info.time, info.command,
                     info.station.isEmpty() ? QString()
                                            : QStringLiteral(" at station ") + info.station);
        PrintError(what + QLatin1String(a_.allowReuse ? "; given again (--allow-reuse)"
                                                      : "; --allow-reuse gives it again"));
        refused_ = !a_.allowReuse;
        return a_.allowReuse;
    }
    void NullBox() override { PrintLine(QStringLiteral("NULL")); }
    void ShowAfterCommand(const QString& message) override { PrintError(message); }
    TRomQueryHooks RomQueryHooks() override {
        // No operator waits at a window: a reader that has not accepted the connection within
        // the link's own connect time ends the query.
        TRomQueryHooks hooks;
        hooks.cancelled = [] { return true; };
        return hooks;
    }

    // TLinkSource
    TBoardLink* SerialLink() override {
        if (!serial_) {
            serial_ = std::make_unique<TSerialSession>(&log_);
            TSerialPort* port = serial_->Port();
            port->SetIniPath(ini_);
            port->SetDeviceOverride(a_.device);
            try {
                serial_->OpenPort(a_.port.value_or(params_.ComPort));
            } catch (const EPortOpenError& e) {
                // A device given by its path is named by it; a port number with its device.
                const QString name =
                    a_.device.isEmpty()
                        ? QStringLiteral("COM%1 (%2)").arg(port->PortNo()).arg(port->DevicePath())
                        : a_.device;
                throw ERefusedRun(QStringLiteral("cannot open %1: %2").arg(name, e.Cause()));
            }
        }
        return serial_.get();
    }
    std::unique_ptr<TBoardLink> TelnetLink(const TBoardParams& params) override {
        try {
            return std::make_unique<TTelnetSession>(nullptr, &log_, params);
        } catch (const ETelnetConnectError& e) {
            // Why (refused, no route, timed out), not the client's one message for every cause.
            throw ERefusedRun(QStringLiteral("cannot connect to %1:%2: %3")
                                  .arg(params.OwnIpText())
                                  .arg(TTelnetSession::kPort)
                                  .arg(e.Cause().isEmpty() ? e.Message() : e.Cause()));
        } catch (const Exception& e) {
            throw ERefusedRun(QStringLiteral("cannot connect to %1:%2: %3")
                                  .arg(params.OwnIpText())
                                  .arg(TTelnetSession::kPort)
                                  .arg(e.Message()));
        }
    }

    TLinkKind LinkKind() const {
        return a_.link == TCliLink::Telnet ? TLinkKind::Telnet : TLinkKind::Serial;
    }
    QString TelnetTarget(const TBoardParams& params) const override {
        return TTelnetSession::TargetOf(params);
    }

    // Settings out of the ranges the dialogs hold are refused before anything is sent. The
    // speed list and the keep-alive buttons read the file as the window's dialog does: an empty
    // speed box (-1, as the window stores it) sends 9600 bit/s, the log saying so.
    void CheckSettings() {
        params_ = WithChoicesRead(params_);
        // A value that is no number would be read as its default: refused like one out of range.
        const QString notNumber = NonNumberSetting(TIniFile(ini_));
        if (!notNumber.isEmpty())
            throw ERefusedRun(QStringLiteral("%1 in %2; nothing was sent").arg(notNumber, ini_));
        if (const std::optional<TSettingRangeError> e = ::CheckSettings(params_))
            throw ERefusedRun(QStringLiteral("%1 in %2; nothing was sent").arg(e->Text(), ini_));
    }

    // The exit status of a command that reaches a board: 0 only when the board's part and its
    // record are both OK.
    int Status(const TCommandResult& r) {
        json_[QStringLiteral("link")] = r.link;
        json_[QStringLiteral("mac")] = r.mac;
        if (!r.planRow.isEmpty())
            json_[QStringLiteral("planRow")] = r.planRow;
        json_[QStringLiteral("result")] = r.reached ? (r.Ok() ? "OK" : "NG") : "refused";
        json_[QStringLiteral("failed")] = QString::fromLatin1(r.outcome.failed);
        // The answers that were no value, as they came.
        QJsonObject notTaken;
        for (const TBoardSetting& s : kBoardSettings) {
            if (const std::optional<QString> reply = r.board.NotTaken(s))
                notTaken[QLatin1String(s.keyword)] = *reply;
        }
        if (!notTaken.isEmpty())
            json_[QStringLiteral("malformed")] = notTaken;
        if (!r.recordError.isEmpty())
            json_[QStringLiteral("recordError")] = r.recordError;
        if (r.label) {
            json_[QStringLiteral("label")] = QJsonObject{{"result", r.label->ok ? "OK" : "NG"},
                                                         {"fault", r.label->fault},
                                                         {"message", r.label->message}};
        }
        if (!r.reached)
            return refused_ ? kExitNg : kExitUsage;
        return r.Ok() ? kExitOk : kExitNg;
    }

    int Write() {
        CheckSettings();
        const TCommandResult r = runner_.Write(LinkKind(), {a_.withMac, a_.verify, a_.serial});
        if (a_.verify) {
            json_[QStringLiteral("differences")] = QJsonArray::fromStringList(r.differences);
        }
        return Status(r);
    }

    int Read() {
        TCommandResult r;
        try {
            r = runner_.Read(LinkKind());
        } catch (const ERefusedRun&) {
            throw;  // no link: nothing was read
        } catch (const Exception&) {
            PrintRead(runner_.LastBoard());  // what was read before the reply that is not a number
            throw;
        }
        PrintRead(r.board);
        for (const QString& line : NotTakenLines(r.board))
            PrintError(line);
        // A query without a reply ends the reading; one whose reply was no value does not.
        if (r.reached && !r.outcome.ok && !r.board.Answered(r.outcome.failed.constData()))
            PrintError(QStringLiteral("no reply to ") + QString::fromLatin1(r.outcome.failed));
        return Status(r);
    }

    int Check() {
        TCommandResult r;
        try {
            r = runner_.Check(LinkKind());
        } catch (const ERefusedRun&) {
            throw;
        } catch (const Exception&) {
            PrintRead(runner_.LastBoard());
            throw;
        }
        PrintRead(r.board);
        for (const QString& line : NotTakenLines(r.board))
            PrintError(line);
        if (r.reached && !r.outcome.ok && !r.board.Answered(r.outcome.failed.constData()) &&
            r.differences.isEmpty())
            PrintError(QStringLiteral("no reply to ") + QString::fromLatin1(r.outcome.failed));
        json_[QStringLiteral("differences")] = QJsonArray::fromStringList(r.differences);
        return Status(r);
    }

    void PrintRead(const TBoardReadback& board) {
        QJsonObject read;
        for (const QString& line : ReadbackLines(board)) {
            PrintLine(line);
            read[line.section(QLatin1Char('='), 0, 0)] = line.section(QLatin1Char('='), 1);
        }
        json_[QStringLiteral("read")] = read;
    }

    int RomVersion() {
        TRomQueryResult q;
        const TCommandResult r = runner_.RomVersion(&q);
        const QString& reader = r.link;  // the reader's address and port
        json_[QStringLiteral("version")] = q.version;
        Status(r);
        switch (q.outcome) {
            case TRomQueryResult::Version:
                PrintLine(QString::fromUtf8(kRomVersionPrefix) + q.version);
                return r.Ok() ? kExitOk : kExitNg;
            case TRomQueryResult::NotConnected:
                Failed(QStringLiteral("cannot connect to the reader at %1: %2")
                           .arg(reader, q.connectCause));
                json_[QStringLiteral("result")] = "refused";  // as a board that cannot be reached
                return kExitUsage;
            case TRomQueryResult::NoReply:
                Failed(QStringLiteral("the reader at %1 sent no version").arg(reader));
                break;
            case TRomQueryResult::NotVersion:
                Failed(QStringLiteral("the reader at %1 answered, but not with its version")
                           .arg(reader));
                break;
            case TRomQueryResult::EmptyVersion:
                Failed(QStringLiteral("the reader at %1 sent an empty version").arg(reader));
                break;
        }
        return kExitNg;
    }

    // A failure that ends the run without an exception: standard error and the JSON's "error".
    void Failed(const QString& message) {
        PrintError(message);
        json_[QStringLiteral("error")] = message;
    }

    int RecordStatus() {
        TLedger& ledger = runner_.Ledger();
        const std::optional<int> next = ledger.NextAddress();
        const TLedgerStats s = ledger.Stats();
        QList<std::pair<QString, QString>> values = {
            {"ledger", ledger.Path()},
            {"station", ledger.Station()},
            {"next", next ? MacTextOfLow(*next) : QStringLiteral("-")}};
        for (const auto& [key, count] : kCounts)
            values.append({key, QString::number(s.*count)});
        values.append({"reserved", QString::number(s.reserved)});
        // With labels printed, the boards given whose label never came out.
        if (ReadLabelSettings(TIniFile(ini_)).Configured())
            values.append({"unlabelled", QString::number(ledger.Unlabelled())});
        for (const auto& [key, value] : values) {
            PrintLine(key + QLatin1Char('=') + value);
            json_[key] = value;
        }
        PrintBlock(s);
        PrintLine(QStringLiteral("検査済み %1 台　未検査 %2 台　NG %3 台")
                      .arg(s.checked)
                      .arg(s.unchecked)
                      .arg(s.checkNg));
        json_[QStringLiteral("checked")] = s.checked;
        json_[QStringLiteral("unchecked")] = s.unchecked;
        json_[QStringLiteral("checkNg")] = s.checkNg;
        QJsonArray stations;
        for (const TStationStats& st : s.stations) {
            QString line =
                QStringLiteral("station %1: rows=%2 ng=%3 given=%4 released=%5 burned=%6")
                    .arg(st.station);
            QJsonObject station{{"station", st.station}};
            for (const auto& [key, count] : kCounts) {
                line = line.arg(st.*count);
                station[QLatin1String(key)] = st.*count;
            }
            PrintLine(line);
            stations.append(station);
        }
        json_[QStringLiteral("stations")] = stations;
        return kExitOk;
    }

    void PrintBlock(const TLedgerStats& s) {
        const QString block =
            s.block ? MacTextOfLow(s.block->first) + QLatin1Char(' ') + MacTextOfLow(s.block->last)
                    : QStringLiteral("-");
        PrintLine(QStringLiteral("block=") + block);
        json_[QStringLiteral("block")] = block;
        if (s.block) {
            PrintLine(QStringLiteral("remaining=%1").arg(s.remaining));
            json_[QStringLiteral("remaining")] = s.remaining;
        }
    }

    int BlockSet() {
        TLedger& ledger = runner_.Ledger();
        ledger.SetBlock({a_.block[0], a_.block[1]});
        PrintBlock(ledger.Stats());
        return kExitOk;
    }

    // plan check and plan import: the file is checked whole first; one error imports nothing.
    int PlanImport() {
        QFile file(a_.planFile);
        if (!file.open(QIODevice::ReadOnly))
            throw ERefusedRun(
                QStringLiteral("cannot read %1: %2").arg(a_.planFile, file.errorString()));
        if (file.size() > kPlanFileLimit)
            throw ERefusedRun(QStringLiteral("%1 is larger than a plan may be (%2 bytes)")
                                  .arg(a_.planFile)
                                  .arg(kPlanFileLimit));
        const QByteArray bytes = file.read(kPlanFileLimit + 1);
        TSitePlan plan;
        QStringList errors;
        if (!ParsePlan(bytes, &plan, &errors)) {
            for (const QString& e : errors)
                PrintError(a_.planFile + QLatin1String(": ") + e);
            json_[QStringLiteral("errors")] = QJsonArray::fromStringList(errors);
            throw ERefusedRun(QStringLiteral("%1: %2 error(s); nothing was imported")
                                  .arg(a_.planFile)
                                  .arg(errors.size()));
        }
        PrintLine(QStringLiteral("keys=") + plan.keys.join(QLatin1Char(',')));
        json_[QStringLiteral("keys")] = QJsonArray::fromStringList(plan.keys);
        if (a_.command == TCliCommand::PlanCheck) {
            PrintLine(QStringLiteral("rows=%1").arg(plan.rows.size()));
            json_[QStringLiteral("rows")] = QString::number(plan.rows.size());
        } else {
            const QString name =
                a_.planName.isEmpty() ? QFileInfo(a_.planFile).completeBaseName() : a_.planName;
            PrintPlan(runner_.Ledger().ImportPlan(plan, name));
        }
        return kExitOk;
    }
    void PrintPlan(const std::optional<TPlanStatus>& plan) {
        if (!plan) {
            PrintLine(QStringLiteral("plan=-"));
            json_[QStringLiteral("plan")] = QJsonValue();
            return;
        }
        const TPlanStatus& p = *plan;
        const QString next = p.next ? QStringLiteral("%1 %2%3")
                                          .arg(p.next->number)
                                          .arg(PlanValuesText(p.next->values))
                                          .arg(p.next->serial.isEmpty()
                                                   ? QString()
                                                   : QStringLiteral(" serial=") + p.next->serial)
                                    : QStringLiteral("-");
        const QList<std::pair<QString, QString>> values = {
            {"plan", p.name},
            {"rows", QString::number(p.rows)},
            {"used", QString::number(p.used)},
            {"reserved", QString::number(p.reserved)},
            {"burned", QString::number(p.burned)},
            {"remaining", QString::number(p.remaining)},
            {"next", next}};
        for (const auto& [key, value] : values) {
            PrintLine(key + QLatin1Char('=') + value);
            json_[key] = value;
        }
    }
    int RecordBackup() {
        TLedger& ledger = runner_.Ledger();
        ledger.Backup(a_.backup);
        PrintLine(QStringLiteral("backup=") + a_.backup);
        if (ledger.Shared())
            PrintError(QStringLiteral(
                "this is the station's own file (rows not yet sent to the shared ledger); the "
                "shared ledger is backed up on its server (pg_dump)"));
        return kExitOk;
    }

    int RecordExport() {
        runner_.Ledger().Export({a_.since, {}, {}},
                                [](const QByteArray& lines) { WriteOut(lines); });
        return kExitOk;
    }

    const TCliArgs& a_;
    QString ini_;
    TBoardParams params_;
    TStdoutLog log_;
    TCommandRunner runner_;
    std::unique_ptr<TSerialSession> serial_;
    bool refused_ = false;  // the guard refused an address given before
    QJsonObject& json_;
};

}  // namespace

int RefuseLine(const TCliArgs& args, const char* result, const QString& message) {
    PrintError(message);
    if (args.json)
        WriteJson({{QStringLiteral("command"), CommandWord(args.command)},
                   {QStringLiteral("result"), QLatin1String(result)},
                   {QStringLiteral("error"), message}});
    return kExitUsage;
}

int RunCli(const TCliArgs& args, const QString& iniPath) {
    int status = kExitNg;
    QJsonObject json{{QStringLiteral("command"), CommandWord(args.command)}};
    const auto failed = [&](const char* result, const QString& message) {
        PrintError(message);
        json[QStringLiteral("result")] = QLatin1String(result);
        json[QStringLiteral("error")] = message;
    };
    try {
        TCliRun run(args, iniPath, json);
        status = run.Run();
    } catch (const Exception& e) {
        // NG: a reply that is not a number, a ledger that cannot be kept.
        status = dynamic_cast<const ERefusedRun*>(&e) ? kExitUsage : kExitNg;
        // A command the ledger refused before it sent anything (a plan's row) is refused too.
        const bool refused = status == kExitUsage || dynamic_cast<const ECommandRefused*>(&e);
        failed(refused ? "refused" : "NG", e.Message());
    } catch (const std::exception& e) {
        status = kExitNg;
        failed("NG", QString::fromUtf8(e.what()));
    }
    // The one document on standard output, whatever the run came to.
    if (args.json)
        WriteJson(json);
    // Output that never reached its reader makes the run NG, once the board's part is recorded.
    if (!OutputError().isEmpty()) {
        PrintError(QStringLiteral("standard output: ") + OutputError());
        if (status == kExitOk)
            status = kExitNg;
    }
    return status;
}
