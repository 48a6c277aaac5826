// The INI store on any file: read it, change two entries of "Option", save, and read the saved
// file again. The second reading must hold exactly what the first one held after the changes,
// so every value, line and section survives a save (only the changed entries differ).
#include <stdlib.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <cstring>

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

void WriteRaw(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    FUZZ_CHECK(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    FUZZ_CHECK(f.write(bytes) == bytes.size());
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

    const QString& path = WorkFile();
    WriteRaw(path, file);
    TIniFile first(path);
    first.WriteInteger(QStringLiteral("Option"), QStringLiteral("ComPort"), port);
    first.WriteString(QStringLiteral("Option"), QStringLiteral("TelnetPass"), pass);
    first.UpdateFile();

    const TIniFile second(path);
    FUZZ_CHECK(second.ReadInteger(QStringLiteral("Option"), QStringLiteral("ComPort"), ~port) ==
               port);
    FUZZ_CHECK(second.ReadString(QStringLiteral("Option"), QStringLiteral("TelnetPass"),
                                 QStringLiteral("-")) == pass);
    FUZZ_CHECK(second.Text() == first.Text());

    // The settings record reads the same from both, whatever the values were.
    TBoardParams before, after;
    LoadSettings(first, &before);
    LoadSettings(second, &after);
    FUZZ_CHECK(before.TelnetPass == after.TelnetPass && after.TelnetPass == pass);
    for (const TSettingKey& k : kIntSettingKeys)
        FUZZ_CHECK(before.*k.member == after.*k.member);
    FUZZ_CHECK(after.ComPort == port);
    return 0;
}
