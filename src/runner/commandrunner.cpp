#include "runner/commandrunner.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <algorithm>

#include "board/boardlink.h"
#include "board/commandline.h"
#include "board/macaddress.h"
#include "board/readback.h"
#include "board/recordline.h"
#include "board/siteplan.h"
#include "core/inifile.h"
#include "core/logpane.h"
#include "core/settings.h"
#include "label/labelcontent.h"
#include "label/labelprinter.h"
#include "label/labelsettings.h"

namespace {

// Another process may reserve or give an address between the look-up and the reservation; the
// guard then looks again, this many times at most.
constexpr int kReserveAttempts = 100;

// The face's sign that the command is at work with a board, for as long as it lives.
class TBusySign {
  public:
    explicit TBusySign(TCommandUi& ui) : ui_(ui) { ui_.Busy(true); }
    ~TBusySign() { ui_.Busy(false); }
    TBusySign(const TBusySign&) = delete;
    TBusySign& operator=(const TBusySign&) = delete;

  private:
    TCommandUi& ui_;
};

}  // namespace

QString DefaultIniPath() {
    const QFileInfo exe(QCoreApplication::applicationFilePath());
    if (exe.completeBaseName() == QLatin1String("netboard-cli"))
        return exe.dir().filePath(QStringLiteral("netboard-config.ini"));
    return IniPathForExecutable(exe.filePath());
}

TCommandRunner::TCommandRunner(TCommandUi& ui, TLinkSource& links, TBoardParams& params,
                               QString iniPath)
    : ui_(ui), links_(links), params_(params), iniPath_(std::move(iniPath)) {}

TCommandRunner::~TCommandRunner() = default;

TLedger& TCommandRunner::Ledger() {
    if (!ledger_) {
        ledger_ = std::make_unique<TLedger>(iniPath_, TLedger::StationOf(iniPath_),
                                            [this](const QString& line) { Log(line); });
    }
    return *ledger_;
}

void TCommandRunner::Log(const QString& line) {
    if (TLogPane* log = ui_.Log())
        log->AddLine(line, kMainLogLimit);
}

TProcedureHooks TCommandRunner::Hooks(const QString& prefix) {
    TProcedureHooks h;
    h.log = [this, prefix](const QString& line) { Log(prefix + line); };
    h.nullBox = [this] { ui_.NullBox(); };
    h.saveSending = [this] { saveSent_ = true; };
    return h;
}

TProcedureHooks TCommandRunner::StrictHooks(const QString& prefix) {
    TProcedureHooks h = Hooks(prefix);
    h.takeReply = [](const TBoardSetting& s, const QString& reply) {
        return CheckReply(s, reply) == TReplyFault::None;
    };
    return h;
}

int TCommandRunner::OfferAddress() {
    // The file's counter, never a copy older than the file: another process may have moved it.
    const std::optional<int> counter = Ledger().Counter();
    if (const std::optional<int> next = NextOffered())
        SetMacLow(&params_, *next);  // else out of range: the dialog or the settings check says so
    return counter.value_or(-1);
}

std::optional<int> TCommandRunner::NextOffered() {
    const std::optional<int> next =
        Ledger().NextAddress([this](const QString& line) { Log(line); });
    if (!next) {
        if (const std::optional<TMacBlock> block = Ledger().Block())
            throw ECommandRefused(TLedger::UsedUpText(*block));
    }
    return next;
}

void TCommandRunner::OfferAgain() {
    // An address the operator typed and then did not give is no board's: the record goes back
    // to the one the ledger offers.
    if (const std::optional<int> next = Ledger().NextAddress())
        SetMacLow(&params_, *next);
}

void TCommandRunner::FollowCounter() {
    if (!ledger_)
        return;
    if (const std::optional<int> counter = ledger_->Counter())
        SetMacLow(&params_, *counter);
}

bool TCommandRunner::ReserveAddress(const TReservationTag& tag, TAddressChoice choice,
                                    TPlanClaim* plan) {
    const bool followCounter = choice == TAddressChoice::FollowCounter;
    if (followCounter) {
        if (const std::optional<TMacBlock> block = Ledger().Block()) {
            // The ledger finds its next address and reserves it in one step, however many
            // stations ask at once.
            const std::optional<int> low = Ledger().ReserveNext(tag, plan);
            if (!low)
                throw ECommandRefused(TLedger::UsedUpText(*block));
            SetMacLow(&params_, *low);
            return true;
        }
    }
    for (int attempt = 0; attempt < kReserveAttempts; ++attempt) {
        std::optional<int> low = MacLowOf(params_);
        if (!low)
            throw ECommandRefused(QStringLiteral("MACアドレス %1 は範囲外です")
                                      .arg(QString::fromLatin1(MacText(params_))));
        Ledger().CheckInBlock(*low);
        const QString mac = MacTextOfLow(*low);
        const TAddressInfo seen = Ledger().Lookup(*low);
        if (seen.state == TAddressState::Reserved) {
            if (!followCounter)
                throw ECommandRefused(
                    QStringLiteral("MACアドレス %1 は別の処理が書き込み中です（%2、%3）")
                        .arg(mac, seen.command, seen.station));
            if (const std::optional<int> next = NextOffered())
                SetMacLow(&params_, *next);
            continue;
        }
        if (seen.state == TAddressState::Given || seen.state == TAddressState::Burned) {
            // Another process may have given the offered address between the offer and this
            // look: the counter has then moved past it, and the fresh offer is the one to take.
            if (followCounter) {
                OfferAddress();
                if (MacLowOf(params_) != low)
                    continue;
            }
            if (!ui_.MayReuse({mac, seen, seen.station != Ledger().Station()})) {
                Log(QStringLiteral("MACアドレス %1 は%2のため、何も送らずに中止しました")
                        .arg(mac, seen.state == TAddressState::Given
                                      ? QStringLiteral("書き込み済み")
                                      : QStringLiteral("保存の応答がなかったアドレス")));
                return false;
            }
        }
        if (Ledger().Reserve(*low, seen, tag,
                             choice == TAddressChoice::Rewrite ? TLedger::TCounter::BecomesAddress
                                                               : TLedger::TCounter::Unchanged,
                             plan))
            return true;
    }
    throw ECommandRefused(QStringLiteral("製造記録 %1 が他の処理に更新され続けるため、"
                                         "MACアドレスを確保できません")
                              .arg(Ledger().Path()));
}

TCommandResult TCommandRunner::RunRecorded(const QString& command, TBoardLink& link,
                                           std::optional<int> low, int counterBase,
                                           const QString& ownIp, const QString& mac,
                                           const TSentValues& sent,
                                           const std::function<TOutcome()>& procedure) {
    TCommandResult result;
    result.reached = true;
    result.mac = low ? MacTextOfLow(*low) : mac;
    saveSent_ = false;
    try {
        result.outcome = procedure();
    } catch (...) {
        // The board heard something: the row says so, and an address that may have reached its
        // store is not offered again without a question.
        result.outcome = {false, "error"};
        Record(&result, command, link.Description(), ownIp, low, counterBase, sent);
        throw;
    }
    Record(&result, command, link.Description(), ownIp, low, counterBase, sent);
    return result;
}

void TCommandRunner::Record(TCommandResult* result, const QString& command, const QString& link,
                            const QString& ownIp, std::optional<int> low, int counterBase,
                            const TSentValues& sent) {
    const TOutcome& out = result->outcome;
    result->link = link;
    result->planRow = plan_ ? plan_->RowText() : QString();
    const TRecordLine row{
        QDateTime::currentDateTime(),    command,   link, result->mac,    ownIp, out.ok,
        QString::fromLatin1(out.failed), QString(), sent, result->planRow};
    // The address's outcome: kept by the board once "save" was acknowledged (a failed
    // verification comes after that), possibly kept once it went out unanswered, free again
    // before that.
    const TAddressState outcome = out.ok || out.failed == "verify" ? TAddressState::Given
                                  : saveSent_                      ? TAddressState::Burned
                                                                   : TAddressState::Released;
    try {
        if (low || plan_)
            Ledger().Finish(low, row, outcome, counterBase, plan_);
        else
            Ledger().Record(row);
    } catch (const Exception& e) {
        // What the board did stands; the command is NG for want of its record, and a reserved
        // address stays reserved, which counts as burned once this process has ended.
        result->recordError = e.Message();
        Log(e.Message());
        Log(QString::fromUtf8(kBannerNg));
        ui_.ShowAfterCommand(e.Message());
    }
    FollowCounter();
    // A board that kept its address leaves the line with its label.
    if (low && outcome == TAddressState::Given && result->recordError.isEmpty() &&
        GivesMacAddress(command) && ReadLabelSettings(TIniFile(iniPath_)).Configured())
        result->label = PrintLabelOf(*low, ownIp, QStringLiteral("label"));
}

TLabelOutcome TCommandRunner::PrintLabelOf(int low, const QString& ownIp, const QString& command) {
    const TLabelSettings settings = ReadLabelSettings(TIniFile(iniPath_));
    const TLabelOutcome out = PrintLabel(
        settings, MakeLabelContent(low, ownIp, Ledger().Station(), QDate::currentDate()));
    Log(out.message);
    const TRecordLine row{QDateTime::currentDateTime(),
                          command,
                          settings.printer,
                          MacTextOfLow(low),
                          ownIp,
                          out.ok,
                          out.fault,
                          QString()};
    try {
        Ledger().Record(row);
    } catch (const Exception& e) {
        Log(e.Message());
        ui_.ShowAfterCommand(e.Message());
        return TLabelOutcome::Failed(QStringLiteral("record"), e.Message());
    }
    if (!out.ok)
        ui_.ShowAfterCommand(out.message);
    return out;
}

TCommandResult TCommandRunner::ReprintLabel(int low) {
    const TLabelSettings settings = ReadLabelSettings(TIniFile(iniPath_));
    if (!settings.Configured())
        throw ECommandRefused(
            QStringLiteral("設定ファイルの [Label] Printer= にラベルの出力先がありません"));
    const QString mac = MacTextOfLow(low);
    const TAddressInfo info = Ledger().Lookup(low);
    if (info.state != TAddressState::Given)
        throw ECommandRefused(
            QStringLiteral(
                "MACアドレス %1 は製造記録で書き込み済みではないため、ラベルを印刷しません")
                .arg(mac));
    TCommandResult result;
    result.reached = true;
    result.mac = mac;
    result.link = settings.printer;
    const TLabelOutcome out = PrintLabelOf(low, info.ownIp, QStringLiteral("label-reprint"));
    result.label = out;
    result.outcome = {out.ok, out.ok ? QByteArray() : out.fault.toLatin1()};
    return result;
}

bool TCommandRunner::ReserveWrite(const TReservationTag& tag, TAddressChoice choice, bool withMac,
                                  const TBoardParams& base, const std::optional<TPlanTaken>& shown,
                                  const QString& serial) {
    std::optional<TPlanClaim> claim;
    if (shown) {
        // A dialog showed the row's values: that row or none. Without one the next row is
        // taken, whichever that is by now.
        claim = TPlanClaim{{serial, ui_.ShowsAddress() ? shown->row.number : 0}, std::nullopt};
    }
    try {
        if (withMac) {
            if (!ReserveAddress(tag, choice, claim ? &*claim : nullptr))
                return false;
        } else if (claim) {
            Ledger().ReservePlanRow(&*claim, tag);
        }
    } catch (const EPlanRefused& e) {
        throw ECommandRefused(e.Message());
    }
    if (claim) {
        plan_ = claim->taken;
        if (plan_->row.number != shown->row.number) {
            CopyPlanSettings(shown->row.values.keys(), base, &params_);
            ApplyPlanRow(plan_->row, &params_);
        }
        Log(QStringLiteral("計画 %1 の %2 行目%3: %4")
                .arg(plan_->name)
                .arg(plan_->row.number)
                .arg(plan_->row.serial.isEmpty()
                         ? QString()
                         : QStringLiteral("（シリアル番号 %1）").arg(plan_->row.serial))
                .arg(PlanValuesText(plan_->row.values)));
    }
    return true;
}

TCommandResult TCommandRunner::Write(TLinkKind kind, TWriteOptions options) {
    const bool telnet = kind == TLinkKind::Telnet;
    const bool withMac = options.withMac;
    plan_.reset();
    // The plan row this write would take: a serial the plan does not hold, or a row taken,
    // refuses the write before a link is opened.
    std::optional<TPlanTaken> planned;
    try {
        planned = Ledger().PeekPlanRow({options.serial});
    } catch (const EPlanRefused& e) {
        throw ECommandRefused(e.Message());
    } catch (const ELedgerIdentityError&) {
        throw;
    } catch (const ELedgerError& e) {
        // A shared ledger that is away cannot say whether a plan is open. A write that gives
        // an address stops at its reservation, which needs the server; one that gives none
        // goes on with the settings file's values, as it always has, and the log says so.
        if (!Ledger().Shared() || !options.serial.isEmpty())
            throw;
        if (!withMac) {
            Log(e.Message());
            Log(QStringLiteral("計画の行を確かめられないため、設定ファイルの値を書き込みます"));
        }
    }
    if (!planned && !options.serial.isEmpty())
        throw ECommandRefused(
            QStringLiteral("計画が開いていないため、シリアル番号 %1 の行はありません。"
                           "何も送っていません")
                .arg(options.serial));
    // A telnet command is connected and logged in while the operator looks at the values. It
    // connects to the record's own address as it stands: a plan row gives the board its new one.
    std::unique_ptr<TBoardLink> session;
    TBoardLink* link = nullptr;
    if (telnet) {
        const TBusySign connecting(ui_);
        session = links_.TelnetLink(params_);
        link = session.get();
    } else if (!(link = links_.SerialLink())) {
        return {};
    }
    // The row's values are the record's for this write only: the plan's settings go back to
    // the settings file's once it ends, however it ends.
    const TBoardParams base = params_;
    const QStringList planKeys = planned ? planned->row.values.keys() : QStringList();
    struct TPutBack {
        TCommandRunner& runner;
        const TBoardParams& base;
        const QStringList& keys;
        ~TPutBack() {
            CopyPlanSettings(keys, base, &runner.params_);
            runner.plan_.reset();
        }
    } putBack{*this, base, planKeys};
    if (planned)
        ApplyPlanRow(planned->row, &params_);
    const int counterBase = withMac ? OfferAddress() : -1;
    const std::optional<int> offered = MacLowOf(params_);
    if (!ui_.ConfirmWrite(&params_, withMac))
        return {};
    const TBusySign busy(ui_);
    Ledger().CheckWritable();
    const QString command = QLatin1String(WriteCommandName(telnet, withMac));
    // An address the operator never saw may give way to the next one; one that was shown and
    // confirmed is sent as it is or not at all.
    const bool follow = !ui_.ShowsAddress() && MacLowOf(params_) == offered;
    if (!ReserveWrite({command, link->Description(), params_.OwnIpText()},
                      follow ? TAddressChoice::FollowCounter : TAddressChoice::Confirmed, withMac,
                      base, planned, options.serial)) {
        OfferAgain();
        return {};
    }
    const std::optional<int> low = withMac ? MacLowOf(params_) : std::nullopt;
    const TBoardParams written = params_;
    TBoardReadback readBack;
    QStringList differences;
    TCommandResult r =
        RunRecorded(command, *link, low, counterBase, written.OwnIpText(), {},
                    SentValues(written, withMac), [&]() -> TOutcome {
                        const TOutcome out = RunWriteCommand(*link, &params_, withMac, Hooks());
                        if (!out.ok || !options.verify)
                            return out;
                        // The verification is a phase of its own after the write's banner.
                        const bool same = Verify(*link, written, withMac, &readBack, &differences);
                        Log(QLatin1String(same ? "verify: OK" : "verify: NG"));
                        for (const QString& d : differences)
                            Log(QStringLiteral("verify: ") + d);
                        return same ? out : TOutcome{false, "verify"};
                    });
    r.differences = differences;
    r.board = readBack;
    return r;
}

TCommandResult TCommandRunner::MacRewrite() {
    TBoardLink* link = links_.SerialLink();
    if (!link)
        return {};
    OfferAddress();
    if (!ui_.ConfirmMacAddress(&params_))
        return {};
    const TBusySign busy(ui_);
    Ledger().CheckWritable();
    const QString command = QStringLiteral("mac-rewrite");
    // The entered address becomes the counter as it is reserved, and only then: a refused
    // rewrite leaves the counter where it was.
    try {
        if (!ReserveAddress({command, link->Description()}, TAddressChoice::Rewrite)) {
            OfferAgain();
            return {};
        }
    } catch (...) {
        FollowCounter();
        throw;
    }
    const std::optional<int> low = MacLowOf(params_);
    const TSentValues sent = {{QStringLiteral("madr"), QString::fromLatin1(MacText(params_))}};
    return RunRecorded(command, *link, low, *low, {}, {}, sent,
                       [&] { return RewriteMacAddress(*link, &params_, Hooks()); });
}

void TCommandRunner::TakeCheckAndSet(const TBoardParams& edited, const TBoardReadback& board,
                                     bool wholeMac) {
    const TBoardParams before = params_;
    params_ = edited;
    // After the "NULL" reply the fields hold zeros, which are no board's address, and after a
    // reply that is not a whole address they hold what the parsers made of it (zeros for fewer
    // groups, 0 for a bad digit): the counter stays where it was.
    const std::optional<TReplyValues>& mac = board.Of("madr");
    if (!wholeMac || !mac || std::all_of(mac->begin(), mac->end(), [](int b) { return b == 0; })) {
        params_.MacAddr_1 = before.MacAddr_1;
        params_.MacAddr_2 = before.MacAddr_2;
        params_.MacAddr_3 = before.MacAddr_3;
        return;
    }
    // The board's own address becomes the counter, as the check-and-set has always done; the
    // guard asks before it goes to another board.
    const std::optional<int> low = MacLowOf(params_);
    if (low && low != Ledger().Counter())
        Ledger().SetCounter(*low);
}

TCommandResult TCommandRunner::CheckAndSet(TLinkKind kind) {
    const bool telnet = kind == TLinkKind::Telnet;
    Ledger().CheckWritable();
    TBoardReadback board;
    TBoardLink* link = nullptr;
    std::unique_ptr<TBoardLink> session;
    if (!telnet && !(link = links_.SerialLink()))
        return {};
    {
        const TBusySign reading(ui_);
        // A reply that is not a number leaves here; the dialog is never shown. The first telnet
        // session ends here: none is open while the operator looks at the values.
        const std::unique_ptr<TBoardLink> first = telnet ? links_.TelnetLink(params_) : nullptr;
        // The dialog shows every reply as its parsers read it; one that is not its value's
        // whole form is pointed out in the log.
        TProcedureHooks hooks = Hooks();
        hooks.takeReply = [this](const TBoardSetting& s, const QString& reply) {
            if (CheckReply(s, reply) != TReplyFault::None)
                Log(ReplyWarningLine(s, reply));
            return true;
        };
        ReadBoardSettings(telnet ? *first : *link, &params_, &board, hooks);
    }
    TBoardParams edited = params_;
    if (!ui_.ConfirmCheckAndSet(board, kind, &edited))
        return {};
    const TBusySign busy(ui_);
    const QString command = QLatin1String(telnet ? "telnet-check-set" : "check-set");
    // The row names the board's address only as the board gave it, whole.
    const bool wholeMac = board.WholeReply(*FindSetting("madr"));
    const QString mac = wholeMac ? ReadbackText("madr", board) : QString();
    if (telnet) {
        // A second session, to the address as the record now holds it.
        TCommandResult refused;
        refused.reached = true;
        refused.mac = mac;
        refused.outcome = {false, "connect"};
        const QString target = links_.TelnetTarget(params_);
        try {
            session = links_.TelnetLink(params_);
        } catch (...) {
            Record(&refused, command, target);
            throw;
        }
        if (!session->Connected()) {
            Log(QStringLiteral("接続が切断されました"));
            Log(QString::fromUtf8(kBannerNg));
            Record(&refused, command, target);
            return refused;
        }
        link = session.get();
    }
    TakeCheckAndSet(edited, board, wholeMac);
    TCommandResult r = RunRecorded(command, *link, std::nullopt, -1, params_.OwnIpText(), mac,
                                   SentValues(params_, false),
                                   [&] { return RunCheckAndSetWrite(*link, &params_, Hooks()); });
    r.board = board;
    return r;
}

TBoardLink* TCommandRunner::OpenLink(TLinkKind kind, std::unique_ptr<TBoardLink>* session) {
    if (kind == TLinkKind::Serial)
        return links_.SerialLink();
    *session = links_.TelnetLink(params_);
    return session->get();
}

TCommandResult TCommandRunner::Read(TLinkKind kind) {
    const bool telnet = kind == TLinkKind::Telnet;
    const TBusySign busy(ui_);
    Ledger().CheckWritable();
    std::unique_ptr<TBoardLink> session;
    TBoardLink* const link = OpenLink(kind, &session);
    if (!link)
        return {};
    TBoardParams scratch = params_;  // nothing read is kept
    // Read into lastBoard_, which keeps what was read before a reply that is not a number.
    lastBoard_ = TBoardReadback();
    TCommandResult r = RunRecorded(
        QLatin1String(telnet ? "telnet-read" : "read"), *link, std::nullopt, -1, {}, {}, {},
        [&] { return ReadBoardSettings(*link, &scratch, &lastBoard_, StrictHooks()); });
    r.board = lastBoard_;
    return r;
}

TCheckVerdict TCommandRunner::JudgeRead(const QString& mac, const TBoardReadback& board) {
    const std::optional<int> low = MacLowOfText(mac);
    if (!low)  // not of this tool's range: never given here
        return {false,
                QStringLiteral("unknown"),
                {QStringLiteral("%1 unknown: never given here").arg(mac)}};
    return JudgeBoard(mac, Ledger().History(*low), board);
}

TCommandResult TCommandRunner::Check(TLinkKind kind) {
    const TBusySign busy(ui_);
    Ledger().CheckWritable();
    std::unique_ptr<TBoardLink> session;
    TBoardLink* const link = OpenLink(kind, &session);
    if (!link)
        return {};
    const QString command = QStringLiteral("check");
    TBoardParams scratch = params_;  // nothing read is kept
    lastBoard_ = TBoardReadback();
    TCommandResult r;
    r.reached = true;
    try {
        r.outcome = ReadBoardSettings(*link, &scratch, &lastBoard_, StrictHooks());
        r.board = lastBoard_;
        // Only an address read whole names the board.
        if (lastBoard_.WholeReply(*FindSetting("madr")))
            r.mac = ReadbackText("madr", lastBoard_);
        if (r.outcome.ok) {
            const TCheckVerdict v = JudgeRead(r.mac, lastBoard_);
            r.outcome = {v.ok, v.failed.toLatin1()};
            r.differences = v.lines;
        }
    } catch (...) {
        r.outcome = {false, "error"};
        Record(&r, command, link->Description());
        throw;
    }
    for (const QString& line : r.differences)
        Log(QStringLiteral("check: ") + line);
    Log(QLatin1String(r.outcome.ok ? "check: OK" : "check: NG"));
    Log(QString::fromUtf8(r.outcome.ok ? kCheckBannerOk : kCheckBannerNg));
    Record(&r, command, link->Description());
    return r;
}

TCommandResult TCommandRunner::RomVersion(TRomQueryResult* query) {
    const TBusySign busy(ui_);
    Ledger().CheckWritable();
    TCommandResult r;
    *query = RunRomVersionQuery(nullptr, params_, ui_.Log(), iniPath_, ui_.RomQueryHooks());
    r.reached = true;
    r.outcome = {query->Ok(), query->Failed()};
    Record(&r, QStringLiteral("rom-version"),
           QStringLiteral("%1:%2").arg(params_.OwnIpText()).arg(params_.TCPPort1));
    if (!query->saveError.isEmpty())
        ui_.ShowAfterCommand(query->saveError);  // the query's result stands
    return r;
}

bool TCommandRunner::Verify(TBoardLink& link, const TBoardParams& written, bool withMac,
                            TBoardReadback* board, QStringList* differences) {
    // After "exit" the board echoes it (and may say more) with nothing awaiting it; the read-back
    // starts once the line has been quiet for 300 ms (2 s at most), or those bytes are taken for
    // answers.
    link.SettleAfterExit();
    TBoardParams scratch = written;  // the read may store the own address into it
    TOutcome read;
    try {
        read = ReadBoardSettings(link, &scratch, board, StrictHooks(QStringLiteral("read-back: ")));
    } catch (const Exception& e) {
        // The board has saved the write; only its verification failed.
        *differences << QStringLiteral("read-back failed: ") + e.Message();
        return false;
    }
    // A reply that is no value is a difference of its own; a query without a reply ends it.
    if (!read.ok && !board->Answered(read.failed.constData())) {
        *differences << QStringLiteral("read-back failed at ") + QString::fromLatin1(read.failed);
        return false;
    }
    *differences = ReadbackDifferences(written, *board, withMac);
    return differences->isEmpty();
}
