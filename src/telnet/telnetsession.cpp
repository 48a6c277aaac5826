#include "telnet/telnetsession.h"

#include <algorithm>
#include <cstring>

#include "core/exceptions.h"
#include "core/logpane.h"
#include "core/settings.h"
#include "core/text.h"
#include "telnet/telnetclient.h"
#include "telnet/telneterrors.h"

int TTelnetSession::dispRecInfo_ = 1;

namespace {

// Received text as one log entry: its line breaks (CR LF, CR or LF) become the pane's, and NUL
// bytes (telnet pads a bare CR with one) are left out.
QString ReceivedText(const QByteArray& bytes) {
    QByteArray t = bytes;
    t.replace("\r\n", "\n");
    t.replace('\r', '\n');
    t.replace(QByteArray(1, '\0'), QByteArray());
    return DecodeShiftJis(t);
}

}  // namespace

TTelnetSession::TTelnetSession(QObject* owner, TLogPane* log, const TBoardParams& params,
                               TClock* clock)
    : QObject(owner),
      TReceivingLink(log, kLinkLogLimit, kReceiveCapacity, clock),
      client_(std::make_unique<TTelnetClient>()) {
    // 1. A fresh session (nothing received, no reply line); the logging flag follows the record.
    dispRecInfo_ = params.fDispRecInfo;

    // 2. The board's telnet service.
    client_->Host = params.OwnIpText();
    // The target is four numbers from the settings; a text that is no dotted IPv4 address (a
    // hand-edited 300 or -1) fails like an unreachable board instead of going to a resolver.
    client_->ResolveNames = false;
    client_->Port = kPort;
    client_->Terminal = "dumb";
    client_->OnConnect = [this] { LogLine(QStringLiteral("Connect")); };
    client_->OnConnected = [this](TTcpConnection*) { LogLine(QStringLiteral("Connected")); };
    client_->OnDataAvailable = [this](TTelnetClient*, const QByteArray& b) { OnDataAvailable(b); };

    // 3. Connect; a failure leaves the constructor with the client's error, the log saying
    // where to and why.
    try {
        client_->Connect();
    } catch (const ETelnetConnectError& e) {
        LogLine(QStringLiteral("%1 に接続できません: %2").arg(Description(), e.Cause()));
        throw;
    }

    // 4.-5. Log in when the board asks for the password; only the first "P" is examined.
    if (Await(TReplyMatcher::AtMark(0, 'P', "PASSWORD:")))
        SendText(EncodeShiftJis(params.TelnetPass) + "\r\n");
}

TTelnetSession::~TTelnetSession() {
    // The client goes first: its read thread is joined before the buffer it fills goes.
    client_.reset();
}

QString TTelnetSession::TargetOf(const TBoardParams& params) {
    return QStringLiteral("%1:%2").arg(params.OwnIpText()).arg(kPort);
}

QString TTelnetSession::Description() const {
    return QStringLiteral("%1:%2").arg(client_->Host).arg(client_->Port);
}

void TTelnetSession::OnDataAvailable(const QByteArray& buffer) {
    if (log_ && log_->LineCount() == 0)
        log_->Append(QString());
    const int take = std::min(Room(), static_cast<int>(buffer.size()));
    std::memcpy(End(), buffer.constData(), static_cast<size_t>(take));
    Stored(take);
    if (dispRecInfo_ != 0) {
        LogLine(QStringLiteral("RX0;") + HexDump(buffer));
        LogLine(QStringLiteral("RX:") + ReceivedText(buffer));
    }
}

void TTelnetSession::SendText(const QByteArray& text) {
    // One write for the whole text: sent a byte at a time, a line's CR and LF could leave in
    // separate segments, which some servers take as two line ends (an extra prompt in the next
    // answer), and Nagle's algorithm held the rest of a line behind the peer's delayed ACK.
    try {
        client_->SendChars(text);
    } catch (const Exception&) {
        // the wait that follows reports the missing answer
    }
    if (dispRecInfo_ != 0)
        LogLine(QStringLiteral("TX:") + HexDump(text));
}

bool TTelnetSession::Connected() {
    return client_->IsConnected();
}

void TTelnetSession::Disconnect() {
    if (!Connected())
        return;
    try {
        client_->Disconnect();
    } catch (const Exception&) {
        // The connection is going anyway.
    }
}
