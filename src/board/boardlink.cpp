#include "board/boardlink.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "core/logpane.h"

void TBoardLink::Pause(int ms) {
    if (ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

TReplyMatcher::TReplyMatcher(Kind kind, int pos, char mark, const QByteArray& expected, int minimum)
    : kind_(kind), pos_(std::max(pos, 0)), mark_(mark), expected_(expected), minimum_(minimum) {}

TReplyMatcher TReplyMatcher::At(int skip, const QByteArray& expected) {
    return TReplyMatcher(Kind::At, skip, 0, expected, 0);
}

TReplyMatcher TReplyMatcher::AtMark(int start, char mark, const QByteArray& expected) {
    return TReplyMatcher(Kind::AtMark, start, mark, expected, 0);
}

TReplyMatcher TReplyMatcher::ReplyLine() {
    return TReplyMatcher(Kind::Line, 0, '>', {}, 0);
}

TReplyMatcher TReplyMatcher::ZeroReplyLine(int minimum) {
    return TReplyMatcher(Kind::ZeroLine, 0, '>', {}, minimum);
}

TPass TReplyMatcher::Step(const char* bytes, int count) {
    switch (kind_) {
        case Kind::At:
            return Compare(bytes, count);
        case Kind::AtMark:
            if (found_)
                return Compare(bytes, count);
            if (const void* at = pos_ < count ? std::memchr(bytes + pos_, mark_,
                                                            static_cast<size_t>(count - pos_))
                                              : nullptr) {
                found_ = true;
                pos_ = static_cast<int>(static_cast<const char*>(at) - bytes);
                return TPass::Progressed;
            }
            pos_ = std::max(pos_, count);
            return TPass::Pending;
        case Kind::Line:
        case Kind::ZeroLine:
            if (!found_) {
                found_ = FindLineStart(bytes, count);
                return found_ ? TPass::Progressed : TPass::Pending;
            }
            for (; pos_ < count; ++pos_) {
                if (bytes[pos_] == '\r') {
                    matched_ = true;
                    return TPass::DoneUnlessLate;
                }
                line_.append(QLatin1Char(bytes[pos_]));
            }
            return TPass::Pending;
    }
    return TPass::Pending;
}

TPass TReplyMatcher::Compare(const char* bytes, int count) {
    const int n = static_cast<int>(expected_.size());
    if (count < pos_ + n)
        return TPass::Pending;
    matched_ = std::memcmp(bytes + pos_, expected_.constData(), static_cast<size_t>(n)) == 0;
    return TPass::Done;
}

bool TReplyMatcher::FindLineStart(const char* bytes, int count) {
    if (count < minimum_)
        return false;
    for (int i = pos_; i < count; ++i) {
        if (bytes[i] != '>')
            continue;
        if (kind_ == Kind::Line) {
            pos_ = i + 1;
            return true;
        }
        if (i + 1 >= count) {
            pos_ = i;  // its next byte has not arrived: look again
            return false;
        }
        if (bytes[i + 1] == '0') {
            pos_ = i + 1;
            return true;
        }
    }
    pos_ = std::max(pos_, count);
    return false;
}

TReceivingLink::TReceivingLink(TLogPane* log, int logLimit, int capacity, TClock* clock)
    : log_(log), timer_(clock), logLimit_(logLimit), buffer_(static_cast<size_t>(capacity)) {}

void TReceivingLink::LogLine(const QString& text) {
    if (log_)
        log_->AddLine(text, logLimit_);
}

void TReceivingLink::TakeOwedEcho() {
    if (owed_ > 0)
        WaitDeadline(timer_, kReplyLimitMs,
                     [this] { return count_ >= owed_ ? TPass::Done : TPass::Pending; });
    owed_ = 0;
}

bool TReceivingLink::Wait(TReplyMatcher& matcher) {
    owed_ = 0;
    if (WaitDeadline(timer_, kReplyLimitMs, [&] { return matcher.Step(buffer_.data(), count_); }))
        return matcher.Matched();
    LogLine(QString::fromUtf8(kTimeoutLine));
    return false;
}

bool TReceivingLink::ReadLine(TReplyMatcher matcher) {
    const bool read = Wait(matcher);
    replyLine_ = matcher.Line();
    return read;
}
