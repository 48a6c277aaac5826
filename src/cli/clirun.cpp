#include "cli/clirun.h"

#include <cstdio>
#include <memory>
#include <optional>

#include "board/commandline.h"
#include "board/macaddress.h"
#include "board/procedures.h"
#include "board/readback.h"
#include "cli/cliargs.h"
#include "cli/stdoutlog.h"
#include "core/exceptions.h"
#include "core/settings.h"
#include "reader/readerlink.h"
#include "reader/romquery.h"
#include "runner/commandrunner.h"
#include "serial/commx.h"
#include "serial/netset1dlg.h"
#include "telnet/telnetsession.h"

void PrintLine(const QString& line) {
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

void PrintError(const QString& line) {
    const QByteArray bytes = "netboard-cli: " + line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
}

namespace {

// A link that cannot be opened: the port, the telnet connect, the reader's connect.
class ELinkError : public Exception {
  public:
    using Exception::Exception;
};

// The command line's face of the command runner: no dialog (the settings file's values are
// the confirmed ones), a switch in place of the question, standard error in place of a box.
class TCliRun : private TCommandUi, private TLinkSource {
  public:
    TCliRun(const TCliArgs& args, const QString& iniPath)
        : a_(args),
          ini_(iniPath),
          params_(LoadSettings(iniPath)),
          runner_(static_cast<TCommandUi&>(*this), static_cast<TLinkSource&>(*this), params_,
                  iniPath) {
        if (a_.address) {
            // The target of this run only: it is never saved, since only the MAC counter is.
            params_.TCPIP1_1 = (*a_.address)[0];
            params_.TCPIP1_2 = (*a_.address)[1];
            params_.TCPIP1_3 = (*a_.address)[2];
            params_.TCPIP1_4 = (*a_.address)[3];
        }
    }

    int Run() {
        switch (a_.command) {
            case TCliCommand::Write:
                return Write();
            case TCliCommand::MacRewrite:
                return Status(runner_.MacRewrite());
            case TCliCommand::Read:
                return Read();
            case TCliCommand::RomVersion:
                return RomVersion();
            case TCliCommand::RecordStatus:
                return RecordStatus();
            case TCliCommand::RecordExport:
                return RecordExport();
            case TCliCommand::BlockSet:
                return BlockSet();
            case TCliCommand::None:
                break;
        }
        return kExitUsage;
    }

  private:
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
    bool ConfirmCheckAndSet(const TBoardReadback&, bool, TBoardParams*) override { return false; }
    bool MayReuse(const QString& mac, const TAddressInfo& info) override {
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

    // TLinkSource
    TBoardLink* SerialLink() override {
        if (!serial_) {
            serial_ = std::make_unique<TNetSet1Dlg>(&log_);
            TCommX* port = serial_->CommX1();
            port->SetIniPath(ini_);
            port->SetDeviceOverride(a_.device);
            port->SetPortNo(a_.port.value_or(params_.ComPort));
            try {
                port->PortOpen();
            } catch (const Exception& e) {
                throw ELinkError(QStringLiteral("cannot open COM%1 (%2): %3")
                                     .arg(port->PortNo())
                                     .arg(port->DevicePath(), e.Message()));
            }
        }
        return serial_.get();
    }
    std::unique_ptr<TBoardLink> TelnetLink(const TBoardParams& params) override {
        try {
            return std::make_unique<TTelNetCont1Dlg>(nullptr, &log_, params);
        } catch (const Exception& e) {
            throw ELinkError(QStringLiteral("cannot connect to %1:%2: %3")
                                 .arg(params.OwnIpText())
                                 .arg(TTelNetCont1Dlg::kPort)
                                 .arg(e.Message()));
        }
    }

    // The exit status of a command that sends: 0 only when the board's part and its record
    // are both OK.
    int Status(const TCommandResult& r) const {
        if (!r.reached)
            return refused_ ? kExitNg : kExitUsage;
        return r.Ok() ? kExitOk : kExitNg;
    }

    int Write() {
        const TCommandResult r = runner_.Write(a_.link == TCliLink::Telnet, a_.withMac, a_.verify);
        for (const QString& d : r.differences)
            PrintError(QStringLiteral("verify: ") + d);
        return Status(r);
    }

    int Read() {
        TCommandResult r;
        try {
            r = runner_.Read(a_.link == TCliLink::Telnet);
        } catch (const ELinkError&) {
            throw;
        } catch (const Exception&) {
            for (const QString& line : ReadbackLines(runner_.LastBoard()))
                PrintLine(line);  // what was read before the reply that is not a number
            throw;
        }
        for (const QString& line : ReadbackLines(r.board))
            PrintLine(line);
        if (r.reached && !r.outcome.ok)
            PrintError(QStringLiteral("no reply to ") + QString::fromLatin1(r.outcome.failed));
        return Status(r);
    }

    int RomVersion() {
        TTComXDlg link(nullptr, params_.TCPPort1, &log_, ini_);
        link.SetTCPServPort(params_.TCPPort1);
        link.SetTCPServAddr(params_.OwnIpText());
        link.OpenLink();
        int status = kExitNg;
        if (!link.Connected()) {
            PrintError(QStringLiteral("cannot connect to the reader at %1:%2")
                           .arg(params_.OwnIpText())
                           .arg(params_.TCPPort1));
            status = kExitUsage;
        } else {
            link.SendRomVersionRequest();
            if (link.WaitResponse()) {
                PrintLine(QString::fromUtf8(kRomVersionPrefix) + link.VersionText());
                status = kExitOk;
            }
        }
        try {
            link.FormDestroy();
        } catch (const Exception& e) {
            PrintError(e.Message());  // the query's result stands
        }
        return status;
    }

    int RecordStatus() {
        TLedger& ledger = runner_.Ledger();
        const std::optional<int> next = ledger.NextAddress();
        const TLedgerStats s = ledger.Stats();
        PrintLine(QStringLiteral("ledger=") + ledger.Path());
        PrintLine(QStringLiteral("station=") + ledger.Station());
        PrintLine(QStringLiteral("next=") + (next ? MacTextOfLow(*next) : QStringLiteral("-")));
        PrintLine(QStringLiteral("rows=%1").arg(s.rows));
        PrintLine(QStringLiteral("ng=%1").arg(s.ng));
        PrintLine(QStringLiteral("given=%1").arg(s.given));
        PrintLine(QStringLiteral("released=%1").arg(s.released));
        PrintLine(QStringLiteral("burned=%1").arg(s.burned));
        PrintLine(QStringLiteral("reserved=%1").arg(s.reserved));
        PrintBlock(s);
        for (const TStationStats& st : s.stations)
            PrintLine(QStringLiteral("station %1: rows=%2 ng=%3 given=%4 released=%5 burned=%6")
                          .arg(st.station)
                          .arg(st.rows)
                          .arg(st.ng)
                          .arg(st.given)
                          .arg(st.released)
                          .arg(st.burned));
        return kExitOk;
    }

    static void PrintBlock(const TLedgerStats& s) {
        PrintLine(
            QStringLiteral("block=") +
            (s.block ? MacTextOfLow(s.block->first) + QLatin1Char(' ') + MacTextOfLow(s.block->last)
                     : QStringLiteral("-")));
        if (s.block)
            PrintLine(QStringLiteral("remaining=%1").arg(s.remaining));
    }

    int BlockSet() {
        TLedger& ledger = runner_.Ledger();
        ledger.SetBlock({a_.block[0], a_.block[1]});
        PrintBlock(ledger.Stats());
        return kExitOk;
    }

    int RecordExport() {
        runner_.Ledger().Export(a_.since, [](const QByteArray& line) {
            std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
        });
        return std::fflush(stdout) == 0 ? kExitOk : kExitNg;
    }

    const TCliArgs& a_;
    QString ini_;
    TBoardParams params_;
    TStdoutLog log_;
    TCommandRunner runner_;
    std::unique_ptr<TNetSet1Dlg> serial_;
    bool refused_ = false;  // the guard refused an address given before
};

}  // namespace

int RunCli(const TCliArgs& args, const QString& iniPath) {
    try {
        TCliRun run(args, iniPath);
        return run.Run();
    } catch (const ELinkError& e) {
        PrintError(e.Message());
        return kExitUsage;
    } catch (const Exception& e) {
        PrintError(e.Message());  // a reply that is not a number, and the like
        return kExitNg;
    } catch (const std::exception& e) {
        PrintError(QString::fromUtf8(e.what()));
        return kExitNg;
    }
}
