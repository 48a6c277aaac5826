#include "boardmodel.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The board's factory settings: the defaults of the tool's settings file, but for its own
// address, `ownIp`, a loopback one: the tool connects to what a check-and-set reads here.
BoardSettings FactorySettings(const QByteArray& ownIp) {
    return {{"madr", "02-5A-C3-00-01-C9"},
            {"l_ip", ownIp},
            {"l_pt", "10777"},
            {"f_ip", "10.16.77.171"},
            {"f_pt", "3335"},
            {"mask", "16"},
            {"conn", "1"},
            {"bps", "16"},
            {"timv", "10"},
            {"keep", "1"},
            {"timr", "1"}};
}

// True when `key` names a setting of the board; says on stderr what `option` was given otherwise.
bool IsSetting(const char* option, const QByteArray& key) {
    if (FactorySettings({}).contains(key))
        return true;
    std::fprintf(stderr, "netboard-sim: %s: the board has no setting \"%s\"\n", option,
                 key.constData());
    return false;
}

}  // namespace

const char* const kBoardSwitchHelp =
    "  --silent            never answer\n"
    "  --no-echo           do not echo received characters\n"
    "  --lowercase         answer \"ok\" instead of \"OK\"\n"
    "  --garbage           answer garbage instead of the expected answer\n"
    "  --no-prompt         give the wake line (an empty line) no answer at all\n"
    "  --refuse LINE       answer \">NG\" to LINE (a whole line or its keyword, e.g. mask)\n"
    "  --mute LINE         give LINE (a whole line, e.g. the query bps) no answer at all\n"
    "  --hangup-after N    hang up after N complete lines\n"
    "  --query-crlf        end query answers with CR LF instead of CR\n"
    "  --transcript FILE   append every received line to FILE\n"
    "  --raw FILE          append every received command byte to FILE, terminators included\n"
    "  --state FILE        keep what \"save\" stores in FILE and start from it, as a board\n"
    "                      does after a power cycle (missing or damaged: factory settings)\n"
    "  --no-persist        answer \"save\" with OK but store nothing\n"
    "  --persist-except KEY  let \"save\" store every setting but KEY (KEY keeps its stored\n"
    "                      value; may be repeated)\n"
    "  --set KEY=VALUE     start with VALUE for the setting KEY (madr, l_ip, ..., timr), over\n"
    "                      what --state holds; stored only by a \"save\"; l_ip starts as a\n"
    "                      loopback address unless set\n"
    "  --ignore KEY        acknowledge KEY= lines with OK but keep the old value\n"
    "  --corrupt N:B       send byte B (0-255, e.g. 0xff) in place of the N-th byte sent\n"
    "                      (counted from 1 over the whole run, telnet commands included)\n";

bool ParseBoardSwitch(int argc, char** argv, int* i, BoardBehaviour* b) {
    const char* a = argv[*i];
    auto next = [&]() -> const char* { return *i + 1 < argc ? argv[++*i] : ""; };
    if (!std::strcmp(a, "--silent"))
        b->silent = true;
    else if (!std::strcmp(a, "--no-echo"))
        b->echo = false;
    else if (!std::strcmp(a, "--lowercase"))
        b->lowercase = true;
    else if (!std::strcmp(a, "--garbage"))
        b->garbage = true;
    else if (!std::strcmp(a, "--no-prompt"))
        b->noPrompt = true;
    else if (!std::strcmp(a, "--refuse"))
        b->refuse.insert(QByteArray(next()));
    else if (!std::strcmp(a, "--mute"))
        b->mute.insert(QByteArray(next()));
    else if (!std::strcmp(a, "--hangup-after"))
        b->hangupAfterLines = std::atoi(next());
    else if (!std::strcmp(a, "--query-crlf"))
        b->queryEnd = "\r\n";
    else if (!std::strcmp(a, "--transcript"))
        b->transcriptPath = QString::fromLocal8Bit(next());
    else if (!std::strcmp(a, "--raw"))
        b->rawPath = QString::fromLocal8Bit(next());
    else if (!std::strcmp(a, "--set")) {
        const QByteArray kv(next());
        const int eq = kv.indexOf('=');
        if (eq <= 0 || !IsSetting("--set", kv.left(eq)))
            return false;
        b->start[kv.left(eq)] = kv.mid(eq + 1);
    } else if (!std::strcmp(a, "--state")) {
        b->statePath = QString::fromLocal8Bit(next());
        if (b->statePath.isEmpty())
            return false;
    } else if (!std::strcmp(a, "--no-persist"))
        b->noPersist = true;
    else if (!std::strcmp(a, "--persist-except")) {
        const QByteArray key(next());
        if (!IsSetting("--persist-except", key))
            return false;
        b->persistExcept.insert(key);
    } else if (!std::strcmp(a, "--ignore"))
        b->ignore.insert(QByteArray(next()));
    else if (!std::strcmp(a, "--corrupt")) {
        const QList<QByteArray> parts = QByteArray(next()).split(':');
        bool atOk = false;
        bool toOk = false;
        b->corruptAt = parts.value(0).toInt(&atOk);
        const int to = parts.value(1).toInt(&toOk, 0);
        if (parts.size() != 2 || !atOk || !toOk || b->corruptAt < 1 || to < 0 || to > 255)
            return false;
        b->corruptTo = static_cast<char>(to);
    } else
        return false;
    return true;
}

QByteArray WireCorruption::Pass(QByteArray bytes) {
    const qint64 at = at_ - sent_ - 1;  // its place in `bytes`
    if (at >= 0 && at < bytes.size())
        bytes[at] = to_;
    sent_ += bytes.size();
    return bytes;
}

BoardModel::BoardModel(BoardBehaviour behaviour) : b_(std::move(behaviour)) {
    saved_ = FactorySettings(b_.factoryIp);
    if (!b_.statePath.isEmpty())
        LoadStored();
    current_ = saved_;
    for (auto it = b_.start.cbegin(); it != b_.start.cend(); ++it)
        current_[it.key()] = it.value();
}

void BoardModel::LoadStored() {
    BoardStateRead r = ReadBoardState(b_.statePath, saved_.keys());
    // The tool connects to the own address a board answers: a file that would make it answer
    // one outside loopback is not taken.
    if (r.result == BoardStateRead::Loaded && !r.values.value("l_ip").startsWith("127.")) {
        r.result = BoardStateRead::Damaged;
        r.why = QStringLiteral("l_ip is not a loopback address");
    }
    startedFrom_ = r.result;
    const QByteArray path = QFile::encodeName(b_.statePath);
    if (r.result == BoardStateRead::Loaded)
        saved_ = r.values;
    else if (r.result == BoardStateRead::Missing)
        std::fprintf(stderr, "netboard-sim: no state file %s yet: factory settings\n",
                     path.constData());
    else
        std::fprintf(stderr, "netboard-sim: state file %s is damaged (%s): factory settings\n",
                     path.constData(), r.why.toLocal8Bit().constData());
}

// Stores the working values, but those --persist-except names; with --state, in the file first.
// False when the file cannot take them: the board then answers NG and keeps what it had stored.
bool BoardModel::Save() {
    if (b_.noPersist)
        return true;
    BoardSettings stored = saved_;
    for (auto it = stored.begin(); it != stored.end(); ++it)
        if (!b_.persistExcept.contains(it.key()))
            it.value() = current_.value(it.key());
    if (!b_.statePath.isEmpty()) {
        const QString why = WriteBoardState(b_.statePath, stored);
        if (!why.isEmpty()) {
            std::fprintf(stderr, "netboard-sim: save not stored: %s\n",
                         why.toLocal8Bit().constData());
            return false;
        }
    }
    saved_ = stored;
    return true;
}

BoardModel::Output BoardModel::Feed(const QByteArray& in) {
    Output out;
    Record(in);
    for (char c : in) {
        if (out.hangup)
            break;
        if (b_.echo)
            out.bytes.append(c);
        if (c == '\r') {
            sawCr_ = true;
            continue;
        }
        if (c == '\n') {
            if (!sawCr_)
                continue;  // a stray LF (the telnet CR rule) ends nothing
            sawCr_ = false;
            const QByteArray line = line_;
            line_.clear();
            ++lines_;
            Transcribe(line);
            out.bytes.append(Answer(line));
            if (b_.hangupAfterLines >= 0 && lines_ >= b_.hangupAfterLines)
                out.hangup = true;
            continue;
        }
        if (sawCr_) {  // CR followed by something else: the CR ended a line without LF
            sawCr_ = false;
        }
        // Bound the line: a peer that never ends its line must not grow memory without limit.
        if (line_.size() < 4096)
            line_.append(c);
    }
    return out;
}

QByteArray BoardModel::Answer(const QByteArray& line) {
    if (b_.silent || b_.mute.contains(line))
        return {};
    const QByteArray ok = b_.lowercase ? ">ok" : ">OK";
    const QByteArray ng = ">NG";
    if (b_.garbage)
        return QByteArray("\x01#?garbage\xff", 11);
    const int eq = line.indexOf('=');
    const QByteArray keyword = eq >= 0 ? line.left(eq) : line;
    if (b_.refuse.contains(line) || b_.refuse.contains(keyword))
        return ng;
    if (line.isEmpty())
        return b_.noPrompt ? QByteArray() : QByteArray(">");
    if (line == "save")
        return Save() ? ok : ng;
    if (line == "exit")
        return {};  // leaves the command mode; nothing is awaited
    if (line == "qelmoT4")
        return ok;
    if (eq >= 0) {
        if (!current_.contains(keyword))
            return ng;
        if (!b_.ignore.contains(keyword))
            current_[keyword] = line.mid(eq + 1);
        return ok;
    }
    if (current_.contains(line))
        return ">" + current_.value(line) + b_.queryEnd;
    return ng;
}

void BoardModel::Transcribe(const QByteArray& line) {
    if (b_.transcriptPath.isEmpty())
        return;
    QFile f(b_.transcriptPath);
    if (f.open(QIODevice::Append))
        f.write(line + "\n");
}

void BoardModel::Record(const QByteArray& bytes) {
    if (b_.rawPath.isEmpty() || bytes.isEmpty())
        return;
    QFile f(b_.rawPath);
    if (f.open(QIODevice::Append))
        f.write(bytes);
}
