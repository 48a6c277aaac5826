#include "board/procedures.h"

#include "board/commandline.h"
#include "core/exceptions.h"
#include "core/settings.h"

namespace {

constexpr int kReadWakePauseMs = 100;

QByteArray Keyword(const char* keywordOrLine) {
    QByteArray k(keywordOrLine);
    if (k.endsWith('='))
        k.chop(1);
    return k;
}

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

// Sends a setting, action or mode line and waits for "OK"; logs its outcome line.
bool Exchange(TBoardLink& link, const char* keyword, const TBoardParams& p,
              const TProcedureHooks& hooks) {
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


void LogBanner(bool ok, const TProcedureHooks& hooks) {
    hooks.log(QString::fromUtf8(ok ? kBannerOk : kBannerNg));
}

TOutcome Failed(const char* keyword) {
    return {false, Keyword(keyword)};
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
            if (style.macLineAfterSave)
                hooks.log(MacLine(*params));
            if (withMac)
                IncrementMacAddress(params);
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
    // Logged after the increment, so it shows the address the next board receives.
    if (r.ok && !link.Style().macLineAfterSave)
        hooks.log(MacLine(*params));
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
    if (r.ok) {
        hooks.log(MacLine(*params));
        IncrementMacAddress(params);
    }
    return r;
}

int SpeedIndexForBps(int bps) {
    return bps == 17 ? 2 : bps == 16 ? 1 : 0;
}

TOutcome ReadBoardSettings(TBoardLink& link, TBoardParams* params, TBoardReadback* out,
                           const TProcedureHooks& hooks) {
    const TLinkStyle& style = link.Style();
    Wake(link, kReadWakePauseMs);  // its result is not used

    // Each query's reply is converted into the readback (and, where the link says so, into the
    // record) in the query's own step; a conversion error leaves by EConvertError.
    using Store = std::function<void(const QString& reply)>;
    struct Query {
        const char* keyword;
        Store store;
    };
    const Query queries[] = {
        {"madr", [&](const QString& r) { out->mac = SplitMacText(r); }},
        {"l_ip",
         [&](const QString& r) {
             out->ownIp = SplitIpText(r);
             if (style.storesOwnAddressAtOnce) {
                 params->TCPIP1_1 = (*out->ownIp)[0];
                 params->TCPIP1_2 = (*out->ownIp)[1];
                 params->TCPIP1_3 = (*out->ownIp)[2];
                 params->TCPIP1_4 = (*out->ownIp)[3];
             }
         }},
        {"l_pt",
         [&](const QString& r) {
             out->ownPort = StrToInt(r);
             if (style.storesOwnAddressAtOnce)
                 params->TCPPort1 = *out->ownPort;
         }},
        {"f_ip", [&](const QString& r) { out->destIp = SplitIpText(r); }},
        {"f_pt", [&](const QString& r) { out->destPort = StrToInt(r); }},
        {"mask", [&](const QString& r) { out->mask = StrToInt(r); }},
        {"conn", [&](const QString& r) { out->autoConnect = StrToInt(r); }},
        {"bps", [&](const QString& r) { out->bps = StrToInt(r); }},
        {"timv", [&](const QString& r) { out->txTiming = StrToInt(r); }},
        {"keep", [&](const QString& r) { out->keepAlive = StrToInt(r); }},
        {"timr", [&](const QString& r) { out->chkTiming = StrToInt(r); }},
    };
    for (const Query& q : queries) {
        const QByteArray line = QByteArray(q.keyword) + kWakeLine;
        Send(link, line);
        const bool isMac = q.keyword == queries[0].keyword;
        const bool read =
            isMac ? link.ReadMacReplyLine(static_cast<int>(line.size())) : link.ReadReplyLine();
        if (!read) {
            hooks.log(OutcomeLine(q.keyword, false));
            return Failed(q.keyword);
        }
        const QString reply = link.ReplyLine();
        if (isMac && style.nullBoxForZeroMac && reply == QLatin1String("0") && hooks.nullBox)
            hooks.nullBox();
        q.store(reply);
        hooks.log(OutcomeLine(q.keyword, true));
    }
    return {true, {}};
}
