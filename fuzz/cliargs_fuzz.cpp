// netboard-cli's argument parser on any line: no crash, a result within the bounds the commands
// rely on, an error text for every line it refuses, and for every line it takes, the line
// written out again in one plain form (each switch once, values after "=") gives the same.
//
// Input layout: words separated by NUL bytes; a word of one byte below 0x20 stands for a word
// of the command language (kWords), so that the fuzzer reaches the commands quickly.
#include <QStringList>

#include "chunks.h"
#include "cli/cliargs.h"

namespace {

const char* const kWords[] = {
    "serial",      "telnet",   "record",   "block",     "write",         "mac-rewrite", "read",
    "rom-version", "status",   "export",   "set",       "--port",        "--device",    "--address",
    "--mac",       "--ini",    "--since",  "--verify",  "--allow-reuse", "--json",      "--help",
    "-h",          "00-10-00", "00-1F-FF", "127.0.0.5", "2026-12-01",    "3",           "255"};

QStringList WordsOf(const uint8_t* data, size_t size) {
    QStringList words;
    const QList<QByteArray> raw =
        QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)).split('\0');
    for (const QByteArray& w : raw) {
        if (w.size() == 1 && static_cast<uint8_t>(w[0]) < 0x20)
            words << QLatin1String(kWords[static_cast<uint8_t>(w[0]) % std::size(kWords)]);
        else
            words << QString::fromUtf8(w);
    }
    return words;
}

QString MacWord(int b1, int b2, int b3) {
    return QString::asprintf("%02X-%02X-%02X", b1, b2, b3);
}

// The parsed line in one plain form.
QStringList Written(const TCliArgs& a) {
    static const char* const kLinkWords[] = {"", "serial", "telnet", "record", "block"};
    QStringList w{QLatin1String(kLinkWords[static_cast<int>(a.link)])};
    w << CommandWord(a.command).section(QLatin1Char(' '), -1);
    for (int b : a.block)
        w << MacWord(b >> 16, (b >> 8) & 0xFF, b & 0xFF);
    if (a.port)
        w << QStringLiteral("--port=%1").arg(*a.port);
    if (!a.device.isEmpty())
        w << QStringLiteral("--device=") + a.device;
    if (a.address)
        w << QStringLiteral("--address=%1.%2.%3.%4")
                 .arg((*a.address)[0])
                 .arg((*a.address)[1])
                 .arg((*a.address)[2])
                 .arg((*a.address)[3]);
    if (a.mac)
        w << QStringLiteral("--mac=") + MacWord((*a.mac)[0], (*a.mac)[1], (*a.mac)[2]);
    else if (a.withMac)
        w << QStringLiteral("--mac");
    if (!a.ini.isEmpty())
        w << QStringLiteral("--ini=") + a.ini;
    if (a.since.isValid())
        w << QStringLiteral("--since=") + a.since.toString(Qt::ISODateWithMs);
    for (const auto& [on, word] :
         {std::pair{a.verify, "--verify"}, std::pair{a.allowReuse, "--allow-reuse"},
          std::pair{a.json, "--json"}}) {
        if (on)
            w << QLatin1String(word);
    }
    return w;
}

bool Same(const TCliArgs& a, const TCliArgs& b) {
    return a.link == b.link && a.command == b.command && a.port == b.port && a.device == b.device &&
           a.address == b.address && a.withMac == b.withMac && a.mac == b.mac && a.ini == b.ini &&
           a.since == b.since && a.block == b.block && a.verify == b.verify &&
           a.allowReuse == b.allowReuse && a.json == b.json && a.help == b.help;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QStringList words = WordsOf(data, size);
    TCliArgs a;
    QString error;
    const bool ok = ParseCliArgs(words, &a, &error);

    TCliArgs again;
    QString againError;
    FUZZ_CHECK(ParseCliArgs(words, &again, &againError) == ok && againError == error);
    if (!ok) {
        FUZZ_CHECK(!error.isEmpty());
        return 0;
    }
    FUZZ_CHECK(Same(a, again));
    if (a.help) {
        FUZZ_CHECK(words.contains(QLatin1String("--help")) || words.contains(QLatin1String("-h")));
        return 0;
    }
    // What the commands rely on.
    FUZZ_CHECK(a.link != TCliLink::None && a.command != TCliCommand::None);
    FUZZ_CHECK(!a.port || (*a.port >= 1 && *a.port <= 255));
    if (a.address) {
        for (int g : *a.address)
            FUZZ_CHECK(g >= 0 && g <= 255);
    }
    if (a.mac) {
        for (int b : *a.mac)
            FUZZ_CHECK(b >= 0 && b <= 255);
    }
    FUZZ_CHECK((a.command == TCliCommand::BlockSet) == (a.link == TCliLink::Block));
    if (a.command == TCliCommand::BlockSet)
        FUZZ_CHECK(a.block.size() == 2 && a.block[0] <= a.block[1] && a.block[1] < (1 << 24));
    FUZZ_CHECK(!a.verify || a.command == TCliCommand::Write);
    FUZZ_CHECK(a.link != TCliLink::Serial || a.port.has_value() != !a.device.isEmpty());

    TCliArgs plain;
    QString plainError;
    FUZZ_CHECK(ParseCliArgs(Written(a), &plain, &plainError));
    FUZZ_CHECK(Same(a, plain));
    return 0;
}
