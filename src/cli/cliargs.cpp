#include "cli/cliargs.h"

#include <QRegularExpression>

const char* const kCliHelp =
    "usage: netboard-cli serial (--port N | --device PATH) COMMAND [switches]\n"
    "       netboard-cli telnet [--address A.B.C.D] COMMAND [switches]\n"
    "       netboard-cli record (status | export [--since DATE]) [--ini FILE]\n"
    "       netboard-cli block set FIRST LAST [--ini FILE]\n"
    "\n"
    "Configures a network board without a window, with the settings of the program's INI\n"
    "file. The log lines go to standard output, errors to standard error.\n"
    "\n"
    "Commands:\n"
    "  write [--mac]            write the settings (with --mac also the next MAC address\n"
    "                           of the counter, which then counts on)\n"
    "  mac-rewrite [--mac XX-XX-XX]\n"
    "                           give the board a new MAC address (serial only); without\n"
    "                           --mac the counter's address\n"
    "  read                     read the board's settings and print them as key=value\n"
    "                           lines; writes nothing\n"
    "  rom-version              ask the reader behind the board for its ROM version (at\n"
    "                           the board's own IP address and TCP port; telnet only)\n"
    "\n"
    "The production ledger (name-ledger.sqlite beside the settings file):\n"
    "  record status            the next MAC address, the block, the counts (per station\n"
    "                           too) and where the ledger is\n"
    "  record export [--since DATE]\n"
    "                           every row (from DATE on: YYYY-MM-DD or an ISO 8601 time)\n"
    "                           as CSV on standard output\n"
    "With [Production] Database=postgresql://... in the settings file, every station keeps\n"
    "one shared ledger on that server.\n"
    "\n"
    "The MAC address block (three bytes XX-XX-XX after 02-5A-C3, both ends included):\n"
    "  block set FIRST LAST     the ledger gives the block's addresses, lowest released\n"
    "                           first, then the next never used; past the last, nothing is\n"
    "                           sent\n"
    "\n"
    "Links:\n"
    "  --port N                 the COM port number (its device from section ComPorts)\n"
    "  --device PATH            the serial device to open\n"
    "  --address A.B.C.D        the board's own IP address for this run only: where telnet\n"
    "                           connects and what l_ip= writes; not saved\n"
    "\n"
    "Switches (anywhere on the line):\n"
    "  --ini FILE               the settings file (default: netboard-config.ini beside\n"
    "                           this program); the production record lies beside it\n"
    "  --verify                 after write: read the settings back and compare them\n"
    "  --allow-reuse            write a MAC address the ledger shows as given before\n"
    "  --json                   print one JSON object with the result at the end\n"
    "  --help                   show this text\n"
    "\n"
    "Exit status: 0 OK; 1 NG: a board's NG, a refused reused address, a ledger or MAC\n"
    "counter that cannot be written, output that could not be written; 2 a usage error,\n"
    "settings out of range or no settings file, or a link that cannot be opened.\n";

namespace {

// The groups of `text` captured by `re`, as numbers in `base`, each at most `max`.
template <size_t N>
std::optional<std::array<int, N>> Groups(const QString& text, const QRegularExpression& re,
                                         int base, int max) {
    const QRegularExpressionMatch m = re.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    std::array<int, N> values{};
    for (size_t i = 0; i < N; ++i) {
        values[i] = m.captured(static_cast<int>(i) + 1).toInt(nullptr, base);
        if (values[i] > max)
            return std::nullopt;
    }
    return values;
}

}  // namespace

std::optional<std::array<int, 4>> ParseIpv4(const QString& text) {
    static const QRegularExpression re(
        QStringLiteral("^([0-9]{1,3})\\.([0-9]{1,3})\\.([0-9]{1,3})\\.([0-9]{1,3})$"));
    return Groups<4>(text, re, 10, 255);
}

std::optional<std::array<int, 3>> ParseMacBytes(const QString& text) {
    static const QRegularExpression re(
        QStringLiteral("^([0-9A-Fa-f]{1,2})-([0-9A-Fa-f]{1,2})-([0-9A-Fa-f]{1,2})$"));
    return Groups<3>(text, re, 16, 255);
}

namespace {

struct Word {
    const char* text;
    TCliCommand command;
};
const Word kCommands[] = {{"write", TCliCommand::Write},
                          {"mac-rewrite", TCliCommand::MacRewrite},
                          {"read", TCliCommand::Read},
                          {"rom-version", TCliCommand::RomVersion}};
const Word kRecordCommands[] = {{"status", TCliCommand::RecordStatus},
                                {"export", TCliCommand::RecordExport}};
const Word kBlockCommands[] = {{"set", TCliCommand::BlockSet}};

// "YYYY-MM-DD" (local midnight) or an ISO 8601 time.
QDateTime ParseSince(const QString& text) {
    const QDate day = QDate::fromString(text, Qt::ISODate);
    if (day.isValid() && text.size() == 10)
        return day.startOfDay();
    return QDateTime::fromString(text, Qt::ISODate);
}

// Checks what only makes sense together once the whole line is read.
QString CheckCombination(const TCliArgs& a, bool macGiven) {
    if (a.link == TCliLink::None)
        return QStringLiteral("no link given (serial or telnet)");
    if (a.link == TCliLink::Record) {
        if (a.command == TCliCommand::None)
            return QStringLiteral("record needs status or export");
        if (a.port || !a.device.isEmpty() || a.address || a.verify || a.allowReuse || macGiven)
            return QStringLiteral("record takes only --ini (and export --since)");
        if (a.since.isValid() && a.command != TCliCommand::RecordExport)
            return QStringLiteral("--since belongs to record export");
        if (a.json && a.command == TCliCommand::RecordExport)
            return QStringLiteral("record export writes CSV; --json does not go with it");
        return {};
    }
    if (a.link == TCliLink::Block) {
        if (a.command == TCliCommand::None || a.block.size() != 2)
            return QStringLiteral("block needs set FIRST LAST (XX-XX-XX XX-XX-XX)");
        if (a.block[0] > a.block[1])
            return QStringLiteral("block set: FIRST lies after LAST");
        if (a.port || !a.device.isEmpty() || a.address || a.verify || a.allowReuse || macGiven ||
            a.since.isValid())
            return QStringLiteral("block set takes only --ini");
        return {};
    }
    if (a.since.isValid())
        return QStringLiteral("--since belongs to record export");
    if (a.command == TCliCommand::None)
        return QStringLiteral("no command given (write, mac-rewrite, read or rom-version)");
    if (a.link == TCliLink::Serial) {
        if (a.command == TCliCommand::RomVersion)
            return QStringLiteral(
                "rom-version runs over telnet only: the reader sits behind the "
                "board's network side");
        if (a.port.has_value() == !a.device.isEmpty())
            return QStringLiteral("serial needs exactly one of --port N and --device PATH");
        if (a.address)
            return QStringLiteral("--address belongs to telnet");
    } else {
        if (a.port || !a.device.isEmpty())
            return QStringLiteral("--port and --device belong to serial");
        if (a.command == TCliCommand::MacRewrite)
            return QStringLiteral("mac-rewrite runs over serial only");
    }
    if (a.verify && a.command != TCliCommand::Write)
        return QStringLiteral("--verify belongs to write");
    if (macGiven && a.command != TCliCommand::Write && a.command != TCliCommand::MacRewrite)
        return QStringLiteral("--mac belongs to write and mac-rewrite");
    if (a.command == TCliCommand::Write && a.mac)
        return QStringLiteral("write --mac takes no address: the counter gives it");
    if (a.command == TCliCommand::MacRewrite && macGiven && !a.mac)
        return QStringLiteral("mac-rewrite --mac needs an address XX-XX-XX");
    return {};
}

}  // namespace

bool ParseCliArgs(const QStringList& args, TCliArgs* out, QString* error) {
    TCliArgs a;
    // --help wins, whatever else the line holds.
    if (args.contains(QLatin1String("--help")) || args.contains(QLatin1String("-h"))) {
        out->help = true;
        return true;
    }
    bool macGiven = false;
    auto fail = [&](const QString& text) {
        *error = text;
        return false;
    };
    for (int i = 0; i < args.size(); ++i) {
        const QString& s = args[i];
        // "--name=value" and "--name value" are the same.
        QString name = s;
        std::optional<QString> inlineValue;
        if (s.startsWith(QLatin1String("--")) && s.contains(QLatin1Char('='))) {
            name = s.left(s.indexOf(QLatin1Char('=')));
            inlineValue = s.mid(s.indexOf(QLatin1Char('=')) + 1);
        }
        bool missing = false;
        auto value = [&]() -> QString {
            if (inlineValue)
                return *inlineValue;
            if (i + 1 < args.size())
                return args[++i];
            missing = true;
            return {};
        };
        if (name == QLatin1String("--verify") && !inlineValue) {
            a.verify = true;
        } else if (name == QLatin1String("--allow-reuse") && !inlineValue) {
            a.allowReuse = true;
        } else if (name == QLatin1String("--json") && !inlineValue) {
            a.json = true;
        } else if (name == QLatin1String("--ini")) {
            a.ini = value();
            if (missing || a.ini.isEmpty())
                return fail(QStringLiteral("--ini needs a file"));
        } else if (name == QLatin1String("--device")) {
            a.device = value();
            if (missing || a.device.isEmpty())
                return fail(QStringLiteral("--device needs a path"));
        } else if (name == QLatin1String("--port")) {
            const QString v = value();
            bool ok = false;
            const int n = v.toInt(&ok);
            if (missing || !ok || n < 1 || n > 255 || !v.at(0).isDigit())
                return fail(QStringLiteral("--port needs a number from 1 to 255, not '%1'").arg(v));
            a.port = n;
        } else if (name == QLatin1String("--address")) {
            const QString v = value();
            a.address = ParseIpv4(v);
            if (missing || !a.address)
                return fail(QStringLiteral("--address needs A.B.C.D, not '%1'").arg(v));
        } else if (name == QLatin1String("--mac")) {
            // A flag after write, an address after mac-rewrite: the next word is taken only
            // when it is an address.
            macGiven = true;
            a.withMac = true;
            if (inlineValue || (i + 1 < args.size() && ParseMacBytes(args[i + 1]))) {
                const QString v = value();
                a.mac = ParseMacBytes(v);
                if (!a.mac)
                    return fail(QStringLiteral("--mac needs XX-XX-XX, not '%1'").arg(v));
            }
        } else if (name == QLatin1String("--since")) {
            const QString v = value();
            a.since = ParseSince(v);
            if (missing || !a.since.isValid())
                return fail(QStringLiteral("--since needs a date YYYY-MM-DD, not '%1'").arg(v));
        } else if (s.startsWith(QLatin1Char('-'))) {
            return fail(QStringLiteral("unknown switch %1").arg(s));
        } else if (a.link == TCliLink::None &&
                   (s == QLatin1String("serial") || s == QLatin1String("telnet") ||
                    s == QLatin1String("record") || s == QLatin1String("block"))) {
            a.link = s == QLatin1String("serial")   ? TCliLink::Serial
                     : s == QLatin1String("telnet") ? TCliLink::Telnet
                     : s == QLatin1String("record") ? TCliLink::Record
                                                    : TCliLink::Block;
        } else if (a.link != TCliLink::None && a.command == TCliCommand::None) {
            auto find = [&](const auto& words) {
                for (const Word& w : words)
                    if (s == QLatin1String(w.text))
                        a.command = w.command;
            };
            if (a.link == TCliLink::Record)
                find(kRecordCommands);
            else if (a.link == TCliLink::Block)
                find(kBlockCommands);
            else
                find(kCommands);
            if (a.command == TCliCommand::None)
                return fail(QStringLiteral("unknown command %1").arg(s));
        } else if (a.command == TCliCommand::BlockSet && a.block.size() < 2) {
            const std::optional<std::array<int, 3>> b = ParseMacBytes(s);
            if (!b)
                return fail(QStringLiteral("block set needs XX-XX-XX, not '%1'").arg(s));
            a.block << ((*b)[0] << 16 | (*b)[1] << 8 | (*b)[2]);
        } else {
            return fail(QStringLiteral("unexpected word %1").arg(s));
        }
    }
    const QString problem = CheckCombination(a, macGiven);
    if (!problem.isEmpty())
        return fail(problem);
    *out = a;
    return true;
}
