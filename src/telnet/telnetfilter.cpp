#include "telnet/telnetfilter.h"

namespace telnet {

QByteArray WireBytes(unsigned char c, bool peerIsTelnet) {
    if (c == '\r')
        return peerIsTelnet ? QByteArray("\r") : QByteArray("\r\n");
    // A lone 255 would start a command at a telnet server; doubled it stays one data byte.
    if (c == kIac && peerIsTelnet)
        return QByteArray(2, static_cast<char>(kIac));
    return QByteArray(1, static_cast<char>(c));
}

QByteArray OptionAnswer(unsigned char request, unsigned char option) {
    unsigned char answer = 0;
    switch (request) {
        case kWill:  // we let the server echo and mark records; nothing else
            answer = (option == kOptEcho || option == kOptEndOfRecord) ? kDo : kDont;
            break;
        case kWont:
            answer = kDont;
            break;
        case kDo:  // we only report a terminal type and accept the echo option
            answer = (option == kOptEcho || option == kOptTerminalType) ? kWill : kWont;
            break;
        default:  // DONT
            answer = kWont;
            break;
    }
    const char out[] = {static_cast<char>(kIac), static_cast<char>(answer),
                        static_cast<char>(option)};
    return QByteArray(out, sizeof out);
}

}  // namespace telnet

using namespace telnet;

void TTelnetFilter::Reset() {
    state_ = State::Data;
    subOption_ = -1;
    parameter_.clear();
    parameterOverflow_ = false;
    serverOptions_.reset();
    ownOptions_.reset();
}

void TTelnetFilter::FeedOption(unsigned char option, Result* r) {
    // WILL and WONT are about the server's side, DO and DONT about ours.
    std::bitset<256>& inForce =
        request_ == kWill || request_ == kWont ? serverOptions_ : ownOptions_;
    const bool asksOn = request_ == kWill || request_ == kDo;
    if (inForce[option] == asksOn)
        return;  // already so: an answer would only be acknowledged again
    const QByteArray answer = OptionAnswer(request_, option);
    const auto agreed = static_cast<unsigned char>(answer[1]);
    inForce[option] = agreed == kDo || agreed == kWill;
    r->answers.push_back(answer);
}

void TTelnetFilter::AppendParameter(char c) {
    if (parameter_.size() < kMaxParameter) {
        parameter_.append(c);
    } else {
        parameterOverflow_ = true;
    }
}

void TTelnetFilter::HandleSubNegotiation(Result* r) {
    const bool send = !parameterOverflow_ && parameter_.size() == 1 &&
                      static_cast<unsigned char>(parameter_[0]) == kSubSend;
    if (subOption_ == kOptTerminalType && send) {
        const QByteArray terminal = terminal_.isEmpty() ? QByteArray("dumb") : terminal_;
        const char head[] = {static_cast<char>(kIac), static_cast<char>(kSb),
                             static_cast<char>(kOptTerminalType), static_cast<char>(kSubIs)};
        QByteArray out(head, sizeof head);
        for (char c : terminal) {
            out.append(c);
            if (static_cast<unsigned char>(c) == kIac)
                out.append(c);
        }
        out.append(static_cast<char>(kIac));
        out.append(static_cast<char>(kSe));
        r->answers.push_back(out);
    }
    subOption_ = -1;
}

void TTelnetFilter::FeedCommand(unsigned char b, Result* r) {
    switch (b) {
        case kIac:  // IAC IAC: one data byte 255
            r->data.append(static_cast<char>(b));
            state_ = State::Data;
            break;
        case kDont:
        case kDo:
        case kWont:
        case kWill:
            request_ = b;
            state_ = State::Option;
            break;
        case kSb:
            parameter_.clear();
            parameterOverflow_ = false;
            state_ = State::Sb;
            break;
        default:  // EOR, SE, NOP, GA and the rest carry nothing for us
            state_ = State::Data;
            break;
    }
}

void TTelnetFilter::FeedSubOption(unsigned char b) {
    if (b == kIac) {
        state_ = State::SbIac;
    } else {
        subOption_ = b;
        parameter_.clear();
        parameterOverflow_ = false;
        state_ = State::SbData;
    }
}

void TTelnetFilter::FeedSubEnd(unsigned char b, Result* r) {
    if (b == kSe) {
        HandleSubNegotiation(r);
        state_ = State::Data;
    } else if (b == kSb) {
        HandleSubNegotiation(r);
        state_ = State::Sb;
    } else if (b == kIac) {
        AppendParameter(static_cast<char>(b));
        state_ = State::SbData;
    } else {  // not a valid end: the sub-negotiation is dropped
        subOption_ = -1;
        state_ = State::Data;
    }
}

TTelnetFilter::Result TTelnetFilter::Feed(const QByteArray& chunk) {
    Result r;
    r.data.reserve(chunk.size());
    for (char ch : chunk) {
        const auto b = static_cast<unsigned char>(ch);
        switch (state_) {
            case State::Data:
                if (b == kIac) {
                    r.sawIac = true;
                    state_ = State::Command;
                } else {
                    r.data.append(ch);
                }
                break;
            case State::Command:
                FeedCommand(b, &r);
                break;
            case State::Option:
                FeedOption(b, &r);
                state_ = State::Data;
                break;
            case State::Sb:
                FeedSubOption(b);
                break;
            case State::SbIac:  // IAC where the option should be: the byte after it is dropped
                state_ = State::Data;
                break;
            case State::SbData:
                if (b == kIac) {
                    state_ = State::SbDataIac;
                } else {
                    AppendParameter(ch);
                }
                break;
            case State::SbDataIac:
                FeedSubEnd(b, &r);
                break;
        }
    }
    return r;
}
