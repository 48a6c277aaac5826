#include "telnet/telnetsession.h"

#include <QStringDecoder>
#include <QStringEncoder>
#include <algorithm>
#include <cstring>

#include "core/exceptions.h"
#include "core/logpane.h"
#include "core/settings.h"
#include "telnet/telnetclient.h"

int TTelNetCont1Dlg::dispRecInfo_ = 1;

namespace {

const char* const kPasswordPrompt = "PASSWORD:";
constexpr int kPasswordPromptLength = 9;

// The log's text encoding: what the board sends is shown as the operator's system shows text.
QString DecodeText(const QByteArray& bytes) {
    QStringDecoder dec("Shift_JIS");
    return dec.isValid() ? dec.decode(bytes) : QString::fromLatin1(bytes);
}

QByteArray EncodeText(const QString& text) {
    QStringEncoder enc("Shift_JIS");
    return enc.isValid() ? QByteArray(enc.encode(text)) : text.toLatin1();
}

// "XX " for every byte, uppercase.
QString HexDump(const QByteArray& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    QString out;
    out.reserve(bytes.size() * 3);
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        out.append(QLatin1Char(digits[b >> 4]));
        out.append(QLatin1Char(digits[b & 15]));
        out.append(QLatin1Char(' '));
    }
    return out;
}

// Received text as one log entry: its line breaks (CR LF, CR or LF) become the pane's, and NUL
// bytes (telnet pads a bare CR with one) are left out.
QString ReceivedText(const QByteArray& bytes) {
    QByteArray t = bytes;
    t.replace("\r\n", "\n");
    t.replace('\r', '\n');
    t.replace(QByteArray(1, '\0'), QByteArray());
    return DecodeText(t);
}

}  // namespace

TTelNetCont1Dlg::TTelNetCont1Dlg(QObject* owner, TLogPane* log, const TBoardParams& params)
    : QObject(owner), telnet1_(std::make_unique<TTelnetClient>()), log_(log) {
    // 1. A fresh session; the logging flag follows the record.
    replyLine_.clear();
    count_ = 0;
    dispRecInfo_ = params.fDispRecInfo;

    // 2. The board's telnet service.
    telnet1_->Host = params.OwnIpText();
    // The target is four numbers from the settings; a text that is no dotted IPv4 address (a
    // hand-edited 300 or -1) fails like an unreachable board instead of going to a resolver.
    telnet1_->ResolveNames = false;
    telnet1_->Port = kPort;
    telnet1_->Terminal = "dumb";
    telnet1_->OnConnect = [this] { Telnet1Connect(); };
    telnet1_->OnConnected = [this](TTcpConnection*) { Telnet1Connected(); };
    telnet1_->OnDataAvailable = [this](TTelnetClient*, const QByteArray& b) {
        Telnet1DataAvailable(b);
    };

    // 3. Connect; a failure leaves the constructor with the client's error.
    telnet1_->Connect();

    // 4.-5. Log in when the board asks for the password.
    if (WaitPassword())
        SendText(EncodeText(params.TelnetPass) + "\r\n");
}

TTelNetCont1Dlg::~TTelNetCont1Dlg() {
    // The client goes first: its read thread is joined before the buffer it fills goes.
    telnet1_.reset();
}

QString TTelNetCont1Dlg::Description() const {
    return QStringLiteral("%1:%2").arg(telnet1_->Host).arg(telnet1_->Port);
}

void TTelNetCont1Dlg::Telnet1Connect() {
    LogLine(QStringLiteral("Connect"));
}

void TTelNetCont1Dlg::Telnet1Connected() {
    LogLine(QStringLiteral("Connected"));
}

void TTelNetCont1Dlg::Telnet1DataAvailable(const QByteArray& buffer) {
    if (log_ && log_->LineCount() == 0)
        log_->Append(QString());
    // The buffer holds what one command line's answer needs; bytes beyond it are dropped
    // (the callers clear it before every line).
    const int room = kReceiveCapacity - count_;
    const int take = std::min(room, static_cast<int>(buffer.size()));
    if (take > 0) {
        std::memcpy(buffer_.data() + count_, buffer.constData(), static_cast<size_t>(take));
        count_ += take;
    }
    if (dispRecInfo_ != 0) {
        LogLine(QStringLiteral("RX0;") + HexDump(buffer));
        LogLine(QStringLiteral("RX:") + ReceivedText(buffer));
    }
}

void TTelNetCont1Dlg::LogLine(const QString& text) {
    if (!log_)
        return;
    log_->AddLine(text, kLinkLogLimit);
}

bool TTelNetCont1Dlg::SendText(const QByteArray& text) {
    // One write for the whole text: sent a byte at a time, a line's CR and LF could leave in
    // separate segments, which some servers take as two line ends (an extra prompt in the next
    // answer), and Nagle's algorithm held the rest of a line behind the peer's delayed ACK.
    try {
        telnet1_->SendChars(text);
    } catch (const Exception&) {
        // the wait that follows reports the missing answer
    }
    if (dispRecInfo_ != 0)
        LogLine(QStringLiteral("TX:") + HexDump(text));
    return true;
}

void TTelNetCont1Dlg::WaitPass(bool progressed) {
    WaitForEvents(progressed ? 0 : timer_.RemainingMs(kReplyLimitMs));
}

int TTelNetCont1Dlg::Find(char c, int from) const {
    for (int i = std::max(from, 0); i < count_; ++i) {
        if (buffer_[static_cast<size_t>(i)] == c)
            return i;
    }
    return -1;
}

bool TTelNetCont1Dlg::WaitPassword() {
    // Only the first "P" is examined.
    return WaitMarked(0, 'P', QByteArray::fromRawData(kPasswordPrompt, kPasswordPromptLength));
}

bool TTelNetCont1Dlg::WaitReply(int start, const QByteArray& expected) {
    return WaitMarked(start, '>', expected);
}

bool TTelNetCont1Dlg::WaitMarked(int start, char mark, const QByteArray& expected) {
    timer_.Start();
    // The answer is looked for only past the echo of the line just sent, even when the echo
    // has not fully arrived in the first pass.
    int pos = std::max(start, 0);
    bool found = false;
    bool progressed = false;
    const int n = static_cast<int>(expected.size());
    for (;;) {
        WaitPass(progressed);
        progressed = false;
        if (!found) {
            const int p = Find(mark, pos);
            if (p >= 0) {
                found = true;
                pos = p;
                progressed = true;
            } else {
                pos = std::max(pos, count_);
            }
        } else if (count_ >= pos + n) {
            // A complete answer ends the wait at once, without a time-out test.
            return std::memcmp(buffer_.data() + pos, expected.constData(),
                               static_cast<size_t>(n)) == 0;
        }
        if (timer_.Elapsed(kReplyLimitMs)) {
            LogLine(QString::fromUtf8(kTimeoutLine));
            return false;
        }
    }
}

bool TTelNetCont1Dlg::ReadLine(const std::function<bool(int* pos)>& findStart) {
    replyLine_.clear();
    timer_.Start();
    int pos = 0;
    bool found = false;
    bool done = false;
    bool progressed = false;
    for (;;) {
        WaitPass(progressed);
        progressed = false;
        if (!found) {
            found = progressed = findStart(&pos);
        } else {
            while (pos < count_) {
                const char c = buffer_[static_cast<size_t>(pos)];
                if (c == '\r') {
                    done = true;
                    break;
                }
                replyLine_.append(QLatin1Char(c));
                ++pos;
            }
        }
        // Tested before completion: a line completed as the limit passes counts as a time-out.
        if (timer_.Elapsed(kReplyLimitMs)) {
            LogLine(QString::fromUtf8(kTimeoutLine));
            return false;
        }
        if (done)
            return true;
    }
}

bool TTelNetCont1Dlg::ReadReplyLine() {
    // The line starts after the first ">".
    return ReadLine([this](int* pos) {
        const int p = Find('>', *pos);
        if (p < 0) {
            *pos = std::max(*pos, count_);
            return false;
        }
        *pos = p + 1;
        return true;
    });
}

bool TTelNetCont1Dlg::ReadZeroReplyLine(int minimum) {
    // The line starts at the "0" of the first ">" directly followed by "0", looked for once at
    // least `minimum` bytes have arrived.
    return ReadLine([this, minimum](int* pos) {
        if (count_ < minimum)
            return false;
        for (int i = *pos; i < count_; ++i) {
            if (buffer_[static_cast<size_t>(i)] != '>')
                continue;
            if (i + 1 >= count_) {
                *pos = i;  // its next byte has not arrived: look again
                return false;
            }
            if (buffer_[static_cast<size_t>(i) + 1] == '0') {
                *pos = i + 1;
                return true;
            }
        }
        *pos = count_;
        return false;
    });
}

bool TTelNetCont1Dlg::Connected() {
    return telnet1_->IsConnected();
}

void TTelNetCont1Dlg::FormClose() {
    if (!Connected())
        return;
    try {
        telnet1_->Disconnect();
    } catch (const Exception&) {
        // The connection is going anyway.
    }
}
