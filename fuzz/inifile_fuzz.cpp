// The INI store on any file. The file is read and saved unchanged, and read and saved again
// with two entries of "Option" changed, and the saved file is read and saved once more:
// - saving what was saved gives the same bytes (every value, line and section survives);
// - the settings record reads the same from the saved file as from the changed store;
// - the change touches section "Option" only: the other sections stay byte for byte.
#include <stdlib.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <algorithm>
#include <cstring>
#include <utility>

#include "chunks.h"
#include "core/inifile.h"
#include "core/settings.h"

namespace {

// One folder per process in memory-backed storage where there is one, removed at exit.
const QString& WorkFile() {
    static const QString path = [] {
        const char* base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        QByteArray dir = QByteArray(base) + "/nbfuzz-ini.XXXXXX";
        FUZZ_CHECK(::mkdtemp(dir.data()) != nullptr);
        static QByteArray keep = dir;
        std::atexit([] { QDir(QString::fromLocal8Bit(keep)).removeRecursively(); });
        return QString::fromLocal8Bit(dir) + QStringLiteral("/netboard-config.ini");
    }();
    return path;
}

void WriteRaw(const QByteArray& bytes) {
    QFile f(WorkFile());
    FUZZ_CHECK(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    FUZZ_CHECK(f.write(bytes) == bytes.size());
}

QByteArray ReadRaw() {
    QFile f(WorkFile());
    FUZZ_CHECK(f.open(QIODevice::ReadOnly));
    return f.readAll();
}

// The bytes of the file after a save of `ini`.
QByteArray Saved(const TIniFile& ini) {
    ini.UpdateFile();
    return ReadRaw();
}

// Where section "Option" stands in saved bytes: from the start of its header line to the start
// of the next section's header line (or the end). {-1, -1} when there is none, {-2, -2} when
// it is not plain to see: more than one, or a line with "[" and bytes other than printable
// ASCII (where the store's decoding and trimming would decide).
std::pair<qsizetype, qsizetype> OptionSpan(const QByteArray& bytes) {
    std::pair<qsizetype, qsizetype> span{-1, -1};
    for (qsizetype pos = 0; pos < bytes.size();) {
        qsizetype end = bytes.indexOf('\n', pos);
        end = end < 0 ? bytes.size() : end + 1;
        const QByteArray raw = bytes.mid(pos, end - pos);
        const QByteArray line = raw.trimmed();
        if (line.contains('[') && std::any_of(line.begin(), line.end(), [](char c) {
                return (c < 0x20 && c != '\t') || c > 0x7E;
            }))
            return {-2, -2};
        if (line.startsWith('[') && line.endsWith(']')) {
            if (span.first >= 0 && span.second < 0)
                span.second = pos;
            if (line.mid(1, line.size() - 2).trimmed().compare("Option", Qt::CaseInsensitive) ==
                0) {
                if (span.first >= 0)
                    return {-2, -2};
                span.first = pos;
            }
        }
        pos = end;
    }
    if (span.first >= 0 && span.second < 0)
        span.second = bytes.size();
    return span;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5)
        return 0;
    // The first four bytes give the port number to write, the next one the password's length
    // (a password is what a one-line field can hold: printable ASCII without blanks at its
    // ends); the rest is the file.
    int port = 0;
    std::memcpy(&port, data, sizeof port);
    const size_t passLength = std::min<size_t>(data[4] % 17, size - 5);
    QString pass;
    for (size_t i = 0; i < passLength; ++i)
        pass += QChar(0x21 + data[5 + i] % 0x5E);
    const QByteArray file(reinterpret_cast<const char*>(data + 5 + passLength),
                          static_cast<qsizetype>(size - 5 - passLength));

    WriteRaw(file);
    TIniFile changed(WorkFile());
    const QByteArray unchanged = Saved(changed);
    changed.WriteInteger(QStringLiteral("Option"), QStringLiteral("ComPort"), port);
    changed.WriteString(QStringLiteral("Option"), QStringLiteral("TelnetPass"), pass);
    const QByteArray saved = Saved(changed);

    const TIniFile reread(WorkFile());
    FUZZ_CHECK(Saved(reread) == saved);

    TBoardParams before, after;
    LoadSettings(changed, &before);
    LoadSettings(reread, &after);
    FUZZ_CHECK(after.ComPort == port && after.TelnetPass == pass);
    FUZZ_CHECK(before.TelnetPass == after.TelnetPass);
    for (const TSettingKey& k : kIntSettingKeys)
        FUZZ_CHECK(before.*k.member == after.*k.member);

    // Without a section "Option" the new one goes after all the others.
    const auto [from, to] = OptionSpan(unchanged);
    if (from == -1) {
        FUZZ_CHECK(saved.startsWith(unchanged));
    } else if (from >= 0) {
        FUZZ_CHECK(saved.left(from) == unchanged.left(from));
        FUZZ_CHECK(saved.endsWith(unchanged.mid(to)));
    }
    return 0;
}
