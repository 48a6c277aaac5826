#include "board/procedures.h"

#include "board/commandline.h"
#include "board/macaddress.h"
#include "core/exceptions.h"
#include "core/settings.h"

namespace {

constexpr int kReadWakePauseMs = 100;

// One command line: the answer to it is collected from the first byte received after it.
void Send(TBoardLink& link, const QByteArray& line) {
    link.ClearReceived();
    link.SendText(line);
}

bool Wake(TBoardLink& link, int pauseMs) {
    Send(link, kWakeLine);
    link.Pause(pauseMs);
    return link.WaitPrompt();
}

// Sends a setting, action or mode line and waits for "OK"; logs its outcome line. A speed
// index that names no entry of the list is told first: the line then asks for 9600 bit/s.
bool Exchange(TBoardLink& link, const char* keyword, const TBoardParams& p,
              const TProcedureHooks& hooks) {
    const TBoardSetting* setting = FindSetting(keyword);
    if (setting && setting->form == TSettingForm::SpeedList && !SpeedIndexInList(p.SpeedIndex))
        hooks.log(QString::fromUtf8(kSpeedOutsideListLine));
    const QByteArray line = BuildCommandLine(keyword, p);
    Send(link, line);
    const bool ok = link.WaitOk(static_cast<int>(line.size()));
    hooks.log(OutcomeLine(keyword, ok));
    return ok;
}

// "save": from the moment it goes out the board may keep what it was sent.
bool Save(TBoardLink& link, const TBoardParams& p, const TProcedureHooks& hooks) {
    if (hooks.saveSending)
        hooks.saveSending();
    return Exchange(link, "save", p, hooks);
}

QString MacLine(const TBoardParams& p) {
    return QStringLiteral("madr=") + QString::fromLatin1(MacText(p));
}

// The line of the address the next board gets: the counter is the ledger's to move; the log
// only shows where it goes.
QString NextMacLine(const TBoardParams& p) {
    const std::optional<TMacAddress> mac = TMacAddress::OfRecord(p);
    return mac ? QStringLiteral("madr=") + mac->Next().Text() : MacLine(p);
}

void LogBanner(bool ok, const TProcedureHooks& hooks) {
    hooks.log(QString::fromUtf8(ok ? kBannerOk : kBannerNg));
}

TOutcome Failed(const char* keyword) {
    return {false, keyword};
}

}  // namespace

TOutcome WriteBoardSettings(TBoardLink& link, TBoardParams* params, bool withMac,
                            const TProcedureHooks& hooks) {
    const TLinkStyle& style = link.Style();
    bool ok = Wake(link, style.writeWakePauseMs);
    const char* failed = ok ? nullptr : "wake";
    // With the MAC address its own answer decides, whatever the wake line got.
    if (withMac) {
        ok = Exchange(link, "madr=", *params, hooks);
        failed = ok ? nullptr : "madr";
    }
    for (const char* keyword : kSettingOrder) {
        if (!ok)
            break;
        ok = Exchange(link, keyword, *params, hooks);
        failed = ok ? nullptr : keyword;
    }
    if (ok) {
        ok = Save(link, *params, hooks);
        failed = ok ? nullptr : "save";
        if (ok) {
            if (link.Look().macLine == TCommandLook::MacLine::AfterSave)
                hooks.log(MacLine(*params));
        }
    }
    if (ok && style.sendsExit)
        Send(link, BuildCommandLine("exit", *params));  // nothing is awaited
    return ok ? TOutcome{true, {}} : Failed(failed);
}

TOutcome RunWriteCommand(TBoardLink& link, TBoardParams* params, bool withMac,
                         const TProcedureHooks& hooks) {
    const TOutcome r = WriteBoardSettings(link, params, withMac, hooks);
    LogBanner(r.ok, hooks);
    // The address the next board receives.
    if (r.ok && link.Look().macLine == TCommandLook::MacLine::AfterBanner)
        hooks.log(withMac ? NextMacLine(*params) : MacLine(*params));
    return r;
}

TOutcome RunCheckAndSetWrite(TBoardLink& link, TBoardParams* params, const TProcedureHooks& hooks) {
    const TOutcome r = WriteBoardSettings(link, params, false, hooks);
    LogBanner(r.ok, hooks);
    return r;
}

TOutcome RewriteMacAddress(TBoardLink& link, TBoardParams* params, const TProcedureHooks& hooks) {
    Wake(link, 0);                              // its result is not used
    Exchange(link, "qelmoT4", *params, hooks);  // a refusal does not stop the rewrite
    TOutcome r{true, {}};
    if (!Exchange(link, "madr=", *params, hooks))
        r = Failed("madr");
    else if (!Save(link, *params, hooks))
        r = Failed("save");
    else
        Send(link, BuildCommandLine("exit", *params));
    LogBanner(r.ok, hooks);
    if (r.ok)
        hooks.log(MacLine(*params));
    return r;
}

const std::optional<TReplyValues>& TBoardReadback::Of(const char* keyword) const {
    static const std::optional<TReplyValues> kNotRead;
    const TBoardSetting* s = FindSetting(keyword);
    return s ? values[static_cast<size_t>(s - kBoardSettings)] : kNotRead;
}

std::optional<QString> TBoardReadback::NotTaken(const TBoardSetting& s) const {
    const size_t i = static_cast<size_t>(&s - kBoardSettings);
    return !values[i] ? replies[i] : std::nullopt;
}

bool TBoardReadback::Answered(const char* keyword) const {
    const TBoardSetting* s = FindSetting(keyword);
    return s && replies[static_cast<size_t>(s - kBoardSettings)];
}

bool TBoardReadback::WholeReply(const TBoardSetting& s) const {
    const std::optional<QString>& reply = replies[static_cast<size_t>(&s - kBoardSettings)];
    return reply && CheckReply(s, *reply) == TReplyFault::None;
}

TOutcome ReadBoardSettings(TBoardLink& link, TBoardParams* params, TBoardReadback* out,
                           const TProcedureHooks& hooks) {
    const TLinkStyle& style = link.Style();
    Wake(link, kReadWakePauseMs);  // its result is not used

    // Each reply is converted into the readback (and, where the link says so, into the record)
    // in its query's own step; a conversion error leaves by EConvertError.
    const char* refused = nullptr;
    for (int i = 0; i < kBoardSettingCount; ++i) {
        const TBoardSetting& s = kBoardSettings[i];
        const QByteArray line = QByteArray(s.keyword) + kWakeLine;
        Send(link, line);
        const bool isMac = s.form == TSettingForm::MacAddress;
        const bool read =
            isMac ? link.ReadMacReplyLine(static_cast<int>(line.size())) : link.ReadReplyLine();
        if (!read) {
            hooks.log(OutcomeLine(s.keyword, false));
            return Failed(s.keyword);
        }
        const QString reply = link.ReplyLine();
        if (isMac && link.Look().nullBoxForZeroMac && reply == QLatin1String("0") && hooks.nullBox)
            hooks.nullBox();
        out->replies[static_cast<size_t>(i)] = reply;
        if (hooks.takeReply && !hooks.takeReply(s, reply)) {
            hooks.log(OutcomeLine(s.keyword, false));
            refused = refused ? refused : s.keyword;
            continue;
        }
        auto& values = out->values[static_cast<size_t>(i)];
        values = ParseReply(s, reply);
        if (s.ownAddress && style.storesOwnAddressAtOnce) {
            const std::vector<int> members = MemberValuesOfReply(s, *values);
            for (size_t m = 0; m < members.size(); ++m)
                params->*s.members[m] = members[m];
        }
        hooks.log(OutcomeLine(s.keyword, true));
    }
    return refused ? Failed(refused) : TOutcome{true, {}};
}
