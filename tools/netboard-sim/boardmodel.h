// The substitute board's command interpreter, shared by its serial and telnet faces: it takes
// the bytes the tool sends and gives the bytes the board sends back (echo and answers). It does
// no I/O on the line; the transports carry its output and apply its pacing.
//
// Its memory is a board's: setting lines change the working values, queries answer them, and
// "save" stores them. A board starts from its stored values, which --state keeps in a file
// across restarts of the simulator process (a power cycle of the board).
#pragma once

#include <QByteArray>
#include <QFile>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

#include "boardmemory.h"

// Ways to misbehave, for tests. The transports parse them from the command line.
struct BoardBehaviour {
    bool echo = true;                    // echo every character received
    bool silent = false;                 // never answer (the echo still follows `echo`)
    bool lowercase = false;              // answer "ok" instead of "OK"
    bool garbage = false;                // answer garbage instead of the expected answer
    bool noPrompt = false;               // the wake line (an empty line) gets no answer at all
    QSet<QByteArray> refuse;             // lines (without terminator) or keywords answered ">NG"
    QSet<QByteArray> mute;               // whole lines (without terminator) given no answer
    int hangupAfterLines = -1;           // hang up after this many complete lines (-1: never)
    QByteArray queryEnd = "\r";          // what ends a query answer
    QString transcriptPath;              // append every received line here
    QString rawPath;                     // append every received command byte here, as it arrived
    QMap<QByteArray, QByteArray> start;  // starting working values, over the stored ones
    QSet<QByteArray> ignore;             // settings acknowledged with ">OK" but kept unchanged
    int corruptAt = 0;                   // the byte sent (from 1) to replace; 0: none
    char corruptTo = 0;                  // what replaces it
    QString statePath;                   // keep the stored values in this file ("": none)
    bool noPersist = false;              // answer "save" with OK but store nothing
    QSet<QByteArray> persistExcept;      // settings "save" leaves at their stored values
    QByteArray factoryIp = "127.0.0.1";  // the board's own address as it leaves the factory
};

// Parses one common board switch at argv[*i] (advancing *i past its argument); false when the
// switch is not a common one. Common switches:
//   --silent  --no-echo  --lowercase  --garbage  --no-prompt  --refuse LINE  --mute LINE
//   --hangup-after N
//   --query-crlf  --transcript FILE  --raw FILE  --set KEY=VALUE  --ignore KEY  --corrupt N:B
//   --state FILE  --no-persist  --persist-except KEY
// Starting values: the stored ones (the state file's, or the factory's when it is missing or
// damaged), then --set over them.
bool ParseBoardSwitch(int argc, char** argv, int* i, BoardBehaviour* b);
extern const char* const kBoardSwitchHelp;

// Counts the bytes a board sends, over the whole run, and replaces the one that --corrupt
// names: one byte damaged on the wire, wherever it falls (echo, prompt, answer, negotiation).
class WireCorruption {
  public:
    explicit WireCorruption(const BoardBehaviour& b) : at_(b.corruptAt), to_(b.corruptTo) {}
    // `bytes` as they go out, the named byte replaced when it is among them.
    QByteArray Pass(QByteArray bytes);

  private:
    qint64 at_;
    char to_;
    qint64 sent_ = 0;
};

class BoardModel {
  public:
    explicit BoardModel(BoardBehaviour behaviour);

    struct Output {
        QByteArray bytes;     // to send, in order
        bool hangup = false;  // close the line after sending `bytes`
    };
    // Feeds received bytes. A line ends at CR LF; the answer follows the echo of the LF, so
    // that on the wire the echo of the whole line comes first, then the prompt and the answer.
    Output Feed(const QByteArray& in);

    // Working and stored values, keyed by query name ("madr", "l_ip", ...).
    QByteArray Value(const QByteArray& key) const { return current_.value(key); }
    QByteArray SavedValue(const QByteArray& key) const { return saved_.value(key); }
    int LinesReceived() const { return lines_; }
    // What the state file gave at the start: Missing also when there is none.
    BoardStateRead::Result StartedFrom() const { return startedFrom_; }

  private:
    void LoadStored();
    bool Save();
    QByteArray Answer(const QByteArray& line);
    void Transcribe(const QByteArray& line);
    void Record(const QByteArray& bytes);

    BoardBehaviour b_;
    BoardSettings current_;
    BoardSettings saved_;
    BoardStateRead::Result startedFrom_ = BoardStateRead::Missing;
    QByteArray line_;
    bool sawCr_ = false;
    int lines_ = 0;
};
