#include "reader/romquery.h"

#include <memory>

#include "core/exceptions.h"
#include "core/replytimer.h"
#include "core/settings.h"
#include "reader/readerlink.h"

namespace {

// Longest block of one pass of the connection wait; any event ends a pass sooner.
constexpr uint32_t kConnectPassMs = 1000;

// Waits, without a time limit, until the link is connected (true) or the caller cancels (false).
bool AwaitConnection(TReaderLink* link, const TRomQueryHooks& hooks) {
    if (hooks.waitStarted)
        hooks.waitStarted(QStringLiteral("TCP/IP 接続中..."));
    // The first pass takes only what is pending, so a link that is already connected goes
    // on at once; later passes sleep until an event (connect, error, Cancel) arrives.
    TReplyTimer timer(&link->LinkTimer().Clock());
    bool connected = false;
    WaitDeadline(
        timer, kNoLimit,
        [&] {
            // A connection that has come wins over a Cancel pressed in the same pass.
            connected = link->Connected();
            if (connected || (hooks.cancelled && hooks.cancelled()))
                return TPass::Done;
            return TPass::Pending;
        },
        [] { return kConnectPassMs; });
    if (hooks.waitEnded)
        hooks.waitEnded();
    return connected;
}

}  // namespace

const char* TRomQueryResult::Failed() const {
    switch (outcome) {
        case NotConnected:
            return "connect";
        case NoReply:
            return "reply";
        case NotVersion:
            return "sub-code";
        case EmptyVersion:
            return "empty";
        case Version:
            break;
    }
    return "";
}

TRomQueryResult RunRomVersionQuery(QObject* owner, const TBoardParams& params, TLogPane* log,
                                   const QString& iniPath, const TRomQueryHooks& hooks) {
    auto link = std::make_unique<TReaderLink>(owner, params.TCPPort1, log, iniPath);
    link->SetTCPServPort(params.TCPPort1);
    link->SetTCPServAddr(params.OwnIpText());
    link->OpenLink();

    TRomQueryResult result;
    if (AwaitConnection(link.get(), hooks)) {
        link->SendRomVersionRequest();
        if (!link->WaitResponse()) {
            result.outcome = TRomQueryResult::NoReply;
        } else if (!link->VersionReceived()) {
            result.outcome = TRomQueryResult::NotVersion;
        } else {
            result.version = link->VersionText();
            result.outcome =
                result.version.isEmpty() ? TRomQueryResult::EmptyVersion : TRomQueryResult::Version;
            if (hooks.versionReceived)
                hooks.versionReceived(result.version);
        }
    } else {
        result.connectCause = link->ConnectCause();
    }
    // Released here rather than by the destructor so that a failed INI write is reported.
    try {
        link->FormDestroy();
    } catch (const Exception& e) {
        result.saveError = e.Message();
    }
    return result;
}
