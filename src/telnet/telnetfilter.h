// The telnet negotiation filter: takes the bytes received from a telnet server, chunk by chunk,
// and gives back the data part (the bytes without telnet commands) and the answers to send.
// It does no I/O. Its state carries from one chunk to the next, so a command or
// sub-negotiation split across chunks is handled as if it had arrived whole.
//
// It keeps what is in force for each option, on the server's side and on ours, and answers
// only a request that asks for a change (it never asks for one itself): a request for
// what is already in force, such as a server's acknowledgement of an answer, gets no answer, so
// that a server that acknowledges every request cannot keep the exchange going. A refused
// request leaves the option off and is refused again if it comes again.
//
// Thread rules: one thread at a time (the telnet client's read thread while connected).
#pragma once

#include <QByteArray>
#include <bitset>
#include <vector>

namespace telnet {

inline constexpr unsigned char kIac = 255;
inline constexpr unsigned char kDont = 254;
inline constexpr unsigned char kDo = 253;
inline constexpr unsigned char kWont = 252;
inline constexpr unsigned char kWill = 251;
inline constexpr unsigned char kSb = 250;
inline constexpr unsigned char kSe = 240;

inline constexpr unsigned char kOptEcho = 1;
inline constexpr unsigned char kOptTerminalType = 24;
inline constexpr unsigned char kOptEndOfRecord = 25;

inline constexpr unsigned char kSubIs = 0;
inline constexpr unsigned char kSubSend = 1;

// The bytes that go on the wire for one character the user sends. Towards a telnet server
// (one that has sent any IAC) CR goes alone and a data byte 255 is doubled; towards a plain
// TCP server CR goes as CR LF, since such a server ends its lines at LF.
QByteArray WireBytes(unsigned char c, bool peerIsTelnet);

// The answer IAC <DO|DONT|WILL|WONT> <option> to one option request that asks for a change.
QByteArray OptionAnswer(unsigned char request, unsigned char option);

}  // namespace telnet

class TTelnetFilter {
  public:
    // Option: the byte after IAC WILL, WONT, DO or DONT is awaited.
    enum class State { Data, Command, Option, Sb, SbIac, SbData, SbDataIac };

    // Longest sub-negotiation parameter kept. The only one acted on (TERMINAL-TYPE SEND) is one
    // byte; bytes beyond the bound are dropped and the sub-negotiation is then ignored when it
    // ends, so a peer that never ends one (or sends megabytes of it) costs no memory.
    static constexpr int kMaxParameter = 256;

    struct Result {
        QByteArray data;                  // the chunk without telnet commands
        std::vector<QByteArray> answers;  // each to be sent as one write, in order
        bool sawIac = false;              // the chunk held at least one IAC
    };

    explicit TTelnetFilter(QByteArray terminal = "dumb") : terminal_(std::move(terminal)) {}

    // Runs one received chunk through the filter.
    Result Feed(const QByteArray& chunk);
    // Back to the data state with no sub-negotiation pending and every option off (a new
    // connection).
    void Reset();

    // The terminal type reported on TERMINAL-TYPE SEND; empty means "dumb".
    void SetTerminal(const QByteArray& terminal) { terminal_ = terminal; }
    State CurrentState() const { return state_; }
    int ParameterSize() const { return static_cast<int>(parameter_.size()); }

  private:
    // One byte in each state of the parser that needs more than a state change.
    // Command: the byte after IAC in the data.
    void FeedCommand(unsigned char b, Result* r);
    // Sb: the option byte of a sub-negotiation.
    void FeedSubOption(unsigned char b);
    // SbDataIac: the byte after IAC inside a sub-negotiation (its end, or a doubled 255).
    void FeedSubEnd(unsigned char b, Result* r);
    void AppendParameter(char c);
    void HandleSubNegotiation(Result* r);
    // Option: answers the request for `option` when it asks for a change, and records it.
    void FeedOption(unsigned char option, Result* r);

    QByteArray terminal_;
    State state_ = State::Data;
    unsigned char request_ = 0;  // WILL, WONT, DO or DONT, in the Option state
    int subOption_ = -1;         // -1: no option remembered
    QByteArray parameter_;
    bool parameterOverflow_ = false;
    std::bitset<256> serverOptions_;  // options in force on the server's side (WILL agreed)
    std::bitset<256> ownOptions_;     // options in force on our side (DO agreed)
};
