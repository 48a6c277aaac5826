#include "cli/cliargs.h"

#include <QRegularExpression>

const char* const kCliHelp =
    "usage: netboard-cli serial (--port N | --device PATH) COMMAND [switches]\n"
    "       netboard-cli telnet [--address A.B.C.D] COMMAND [switches]\n"
    "       netboard-cli record (status | export [--since DATE] | backup FILE | new --force)\n"
    "                   [--ini FILE]\n"
    "       netboard-cli block set FIRST LAST [--ini FILE]\n"
    "       netboard-cli label MAC [--ini FILE]\n"
    "       netboard-cli plan (import FILE [--name NAME] | check FILE | status | export |\n"
    "                   close) [--ini FILE]\n"
    "\n"
    "Configures a network board without a window, with the settings of the program's INI\n"
    "file. The log lines go to standard output (with --json to standard error), errors to\n"
    "standard error.\n"
    "\n"
    "Commands:\n"
    "  write [--mac]            write the settings (with --mac also the next MAC address\n"
    "                           of the counter, which then counts on)\n"
    "  mac-rewrite [--mac XX-XX-XX]\n"
    "                           give the board a new MAC address (serial only); without\n"
    "                           --mac the counter's address\n"
    "  read                     read the board's settings and print them as key=value\n"
    "                           lines; writes nothing\n"
    "  check                    read the board's settings and compare them with what the\n"
    "                           ledger's last write to its MAC address sent: OK when all\n"
    "                           are equal; NG with one line per difference, or for an\n"
    "                           address never given here, burned or given to more than\n"
    "                           one board\n"
    "  rom-version              ask the reader behind the board for its ROM version (at\n"
    "                           the board's own IP address and TCP port; telnet only)\n"
    "\n"
    "The production ledger (name-ledger.sqlite beside the settings file):\n"
    "  record status            the next MAC address, the block, the counts (per station\n"
    "                           too), the boards by their last check, and where the\n"
    "                           ledger is\n"
    "  record export [--since DATE]\n"
    "                           every row (from DATE on: YYYY-MM-DD or an ISO 8601 time)\n"
    "                           as CSV on standard output\n"
    "  record backup FILE       a consistent copy of the station's ledger file into FILE\n"
    "                           (a new file), while the stations go on working\n"
    "  record new --force       start a new ledger where the settings file's one is lost\n"
    "                           (missing, emptied or another's): the old file is kept\n"
    "                           aside, the addresses up to MacHighWater count as used\n"
    "With [Production] Database=postgresql://... in the settings file, every station keeps\n"
    "one shared ledger on that server.\n"
    "\n"
    "The MAC address block (three bytes XX-XX-XX after 02-5A-C3, both ends included):\n"
    "  block set FIRST LAST     the ledger gives the block's addresses, lowest released\n"
    "                           first, then the next never used; past the last, nothing is\n"
    "                           sent\n"
    "\n"
    "Labels ([Label] Printer= in the settings file; each write that gives an address prints\n"
    "its board's label):\n"
    "  label MAC                print the label of MAC (XX-XX-XX or the whole address)\n"
    "                           again, as a reprint row of the ledger\n"
    "\n"
    "Site plans (each board its own settings from a CSV file; a header row names the\n"
    "settings by their line keyword: l_ip, l_pt, f_ip, f_pt, mask, conn, bps, timv,\n"
    "keep, timr, and optionally serial and note; the rest come from the settings file):\n"
    "  plan import FILE [--name NAME]\n"
    "                           check FILE and open it as the plan: each write then takes\n"
    "                           its next row (reserved with the MAC address), and sends\n"
    "                           that row's values; one error imports nothing\n"
    "  plan check FILE          check FILE as import does, importing nothing\n"
    "  plan status              the plan's rows: used, reserved, burned, remaining, next\n"
    "  plan export              each row with its state and its board's MAC address and\n"
    "                           time, as CSV on standard output\n"
    "  plan close               close the plan (its rows stay in the ledger)\n"
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
    "  --serial S               write: take the plan's row of serial number S\n"
    "  --json                   standard output holds one JSON object and nothing else:\n"
    "                           \"result\" (OK, NG, refused or usage), \"error\" when\n"
    "                           there is one, and what the command found\n"
    "  --help                   show this text\n"
    "  --version                show the program's name and version\n"
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

// "A.B.C.D" with four decimal groups of 0 to 255.
std::optional<std::array<int, 4>> ParseIpv4(const QString& text) {
    static const QRegularExpression re(
        QStringLiteral("^([0-9]{1,3})\\.([0-9]{1,3})\\.([0-9]{1,3})\\.([0-9]{1,3})$"));
    return Groups<4>(text, re, 10, 255);
}

// "XX-XX-XX": three hexadecimal bytes of one or two digits.
std::optional<std::array<int, 3>> ParseMacBytes(const QString& text) {
    static const QRegularExpression re(
        QStringLiteral("^([0-9A-Fa-f]{1,2})-([0-9A-Fa-f]{1,2})-([0-9A-Fa-f]{1,2})$"));
    return Groups<3>(text, re, 16, 255);
}

// The commands as CommandWord names them, each with the link word before it (serial's are
// telnet's too); the line's command word is the last word.
struct Word {
    TCliLink link;
    const char* text;
    TCliCommand command;
};
const Word kCommands[] = {{TCliLink::Serial, "write", TCliCommand::Write},
                          {TCliLink::Serial, "mac-rewrite", TCliCommand::MacRewrite},
                          {TCliLink::Serial, "read", TCliCommand::Read},
                          {TCliLink::Serial, "check", TCliCommand::Check},
                          {TCliLink::Serial, "rom-version", TCliCommand::RomVersion},
                          {TCliLink::Record, "record status", TCliCommand::RecordStatus},
                          {TCliLink::Record, "record export", TCliCommand::RecordExport},
                          {TCliLink::Record, "record backup", TCliCommand::RecordBackup},
                          {TCliLink::Record, "record new", TCliCommand::RecordNew},
                          {TCliLink::Block, "block set", TCliCommand::BlockSet},
                          {TCliLink::Label, "label", TCliCommand::Label},
                          {TCliLink::Plan, "plan import", TCliCommand::PlanImport},
                          {TCliLink::Plan, "plan check", TCliCommand::PlanCheck},
                          {TCliLink::Plan, "plan status", TCliCommand::PlanStatus},
                          {TCliLink::Plan, "plan export", TCliCommand::PlanExport},
                          {TCliLink::Plan, "plan close", TCliCommand::PlanClose}};

// "YYYY-MM-DD" (local midnight) or an ISO 8601 time.
QDateTime ParseSince(const QString& text) {
    const QDate day = QDate::fromString(text, Qt::ISODate);
    if (day.isValid() && text.size() == 10)
        return day.startOfDay();
    return QDateTime::fromString(text, Qt::ISODate);
}

// The record and block lines: only their own switches.
QString CheckLedgerLine(const TCliArgs& a) {
    const bool linkSwitches =
        a.port || !a.device.isEmpty() || a.address || a.verify || a.allowReuse || a.withMac;
    if (a.link == TCliLink::Record) {
        if (a.command == TCliCommand::None)
            return QStringLiteral("record needs status, export, backup or new");
        if (linkSwitches)
            return QStringLiteral("record takes only --ini (and export --since)");
        if (a.command == TCliCommand::RecordBackup && a.backup.isEmpty())
            return QStringLiteral("record backup needs the file to write");
        if (a.command == TCliCommand::RecordNew && !a.force)
            return QStringLiteral(
                "record new starts a new ledger in the place of the lost one; give --force");
        if (a.force && a.command != TCliCommand::RecordNew)
            return QStringLiteral("--force belongs to record new");
        if (a.since.isValid() && a.command != TCliCommand::RecordExport)
            return QStringLiteral("--since belongs to record export");
        if (a.json && a.command == TCliCommand::RecordExport)
            return QStringLiteral("record export writes CSV; --json does not go with it");
        return {};
    }
    if (a.command == TCliCommand::None || a.block.size() != 2)
        return QStringLiteral("block needs set FIRST LAST (XX-XX-XX XX-XX-XX)");
    if (a.block[0] > a.block[1])
        return QStringLiteral("block set: FIRST lies after LAST");
    if (linkSwitches || a.since.isValid() || a.force)
        return QStringLiteral("block set takes only --ini");
    return {};
}

// The plan lines: only their own switches.
QString CheckPlanLine(const TCliArgs& a) {
    if (a.command == TCliCommand::None)
        return QStringLiteral("plan needs import, check, status, export or close");
    const bool takesFile =
        a.command == TCliCommand::PlanImport || a.command == TCliCommand::PlanCheck;
    if (takesFile && a.planFile.isEmpty())
        return QStringLiteral("plan %1 needs the CSV file").arg(CommandWord(a.command).mid(5));
    if (a.port || !a.device.isEmpty() || a.address || a.verify || a.allowReuse || a.withMac ||
        a.since.isValid() || a.force || !a.serial.isEmpty())
        return QStringLiteral("plan takes only --ini and --json (and import --name)");
    if (!a.planName.isEmpty() && a.command != TCliCommand::PlanImport)
        return QStringLiteral("--name belongs to plan import");
    if (a.json && a.command == TCliCommand::PlanExport)
        return QStringLiteral("plan export writes CSV; --json does not go with it");
    return {};
}

// Checks what only makes sense together once the whole line is read. `a.withMac` tells that
// --mac was given at all, with or without an address.
QString CheckCombination(const TCliArgs& a) {
    if (a.link == TCliLink::None)
        return QStringLiteral("no link given (serial or telnet)");
    if (a.link == TCliLink::Plan)
        return CheckPlanLine(a);
    if (!a.planName.isEmpty())
        return QStringLiteral("--name belongs to plan import");
    if (!a.serial.isEmpty() && a.command != TCliCommand::Write)
        return QStringLiteral("--serial belongs to write");
    if (a.link == TCliLink::Record || a.link == TCliLink::Block)
        return CheckLedgerLine(a);
    if (a.link == TCliLink::Label) {
        if (!a.labelLow)
            return QStringLiteral("label needs the MAC address (XX-XX-XX or 02-5A-C3-XX-XX-XX)");
        if (a.port || !a.device.isEmpty() || a.address || a.verify || a.allowReuse || a.withMac ||
            a.since.isValid() || a.force)
            return QStringLiteral("label takes only --ini and --json");
        return {};
    }
    if (a.since.isValid())
        return QStringLiteral("--since belongs to record export");
    if (a.force)
        return QStringLiteral("--force belongs to record new");
    if (a.command == TCliCommand::None)
        return QStringLiteral("no command given (write, mac-rewrite, read, check or rom-version)");
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
    if (a.withMac && a.command != TCliCommand::Write && a.command != TCliCommand::MacRewrite)
        return QStringLiteral("--mac belongs to write and mac-rewrite");
    if (a.command == TCliCommand::Write && a.mac)
        return QStringLiteral("write --mac takes no address: the counter gives it");
    if (a.command == TCliCommand::MacRewrite && a.withMac && !a.mac)
        return QStringLiteral("mac-rewrite --mac needs an address XX-XX-XX");
    return {};
}

// The switches that take no value.
struct Flag {
    const char* name;
    bool TCliArgs::*on;
};
const Flag kFlags[] = {{"--verify", &TCliArgs::verify},
                       {"--allow-reuse", &TCliArgs::allowReuse},
                       {"--json", &TCliArgs::json},
                       {"--force", &TCliArgs::force}};

// The switches that always take a value: each reads it into `a`, false when it does not fit;
// the line's error is then `error`, with the value for '%1'.
struct ValueSwitch {
    const char* name;
    const char* error;
    bool (*read)(const QString& v, TCliArgs* a);
};
const ValueSwitch kValueSwitches[] = {
    {"--ini", "--ini needs a file",
     [](const QString& v, TCliArgs* a) {
         a->ini = v;
         return !v.isEmpty();
     }},
    {"--device", "--device needs a path",
     [](const QString& v, TCliArgs* a) {
         a->device = v;
         return !v.isEmpty();
     }},
    {"--port", "--port needs a number from 1 to 255, not '%1'",
     [](const QString& v, TCliArgs* a) {
         bool ok = false;
         a->port = v.toInt(&ok);
         return ok && *a->port >= 1 && *a->port <= 255 && v.at(0).isDigit();
     }},
    {"--address", "--address needs A.B.C.D, not '%1'",
     [](const QString& v, TCliArgs* a) {
         a->address = ParseIpv4(v);
         return a->address.has_value();
     }},
    {"--name", "--name needs the plan's name",
     [](const QString& v, TCliArgs* a) {
         a->planName = v;
         return !v.isEmpty();
     }},
    {"--serial", "--serial needs the board's serial number",
     [](const QString& v, TCliArgs* a) {
         a->serial = v;
         return !v.isEmpty();
     }},
    {"--since", "--since needs a date YYYY-MM-DD, not '%1'",
     [](const QString& v, TCliArgs* a) {
         a->since = ParseSince(v);
         return a->since.isValid();
     }},
};

struct LinkWord {
    const char* text;
    TCliLink link;
};
const LinkWord kLinks[] = {{"serial", TCliLink::Serial}, {"telnet", TCliLink::Telnet},
                           {"record", TCliLink::Record}, {"block", TCliLink::Block},
                           {"label", TCliLink::Label},   {"plan", TCliLink::Plan}};

// A word the line itself is made of: a link, or the last word of a command.
bool IsLineWord(const QString& word) {
    for (const LinkWord& w : kLinks) {
        if (word == QLatin1String(w.text))
            return true;
    }
    for (const Word& w : kCommands) {
        if (word == QString::fromLatin1(w.text).section(QLatin1Char(' '), -1))
            return true;
    }
    return false;
}

// Reads the switch args[*i] (and its value) into `a`; the error text, empty when it is fine.
// "--name=value" and "--name value" are the same. `seen` holds the switches read so far: a
// switch given twice is refused, since which of its two values would count is a guess.
QString ReadSwitch(const QStringList& args, int* i, TCliArgs* a, QStringList* seen) {
    const QString& s = args[*i];
    const int eq =
        s.startsWith(QLatin1String("--")) ? static_cast<int>(s.indexOf(QLatin1Char('='))) : -1;
    const QString name = eq >= 0 ? s.left(eq) : s;
    if (seen->contains(name))
        return QStringLiteral("%1 is given twice; give each switch once").arg(name);
    seen->append(name);
    const std::optional<QString> inlineValue =
        eq >= 0 ? std::optional<QString>(s.mid(eq + 1)) : std::nullopt;
    // The value after "=", else the next word (*i moves on to it); none when the line ends.
    const auto value = [&]() -> std::optional<QString> {
        if (inlineValue)
            return inlineValue;
        if (*i + 1 < args.size())
            return args[++*i];
        return std::nullopt;
    };
    // A flag takes no value: "--json=1" is no switch of ours.
    for (const Flag& f : kFlags) {
        if (name == QLatin1String(f.name) && !inlineValue) {
            a->*f.on = true;
            return {};
        }
    }
    if (name == QLatin1String("--mac")) {
        // A flag after write, an address after mac-rewrite. After write the next word is taken
        // only when it is an address (which write then refuses); otherwise any next word that
        // is no switch and no word of the line is meant as the address.
        a->withMac = true;
        const QString next = *i + 1 < args.size() ? args[*i + 1] : QString();
        const bool meantAsAddress =
            *i + 1 < args.size() &&
            (ParseMacBytes(next) || (a->command != TCliCommand::Write &&
                                     !next.startsWith(QLatin1Char('-')) && !IsLineWord(next)));
        if (inlineValue || meantAsAddress) {
            const QString v = *value();
            a->mac = ParseMacBytes(v);
            if (!a->mac)
                return QStringLiteral(
                           "--mac needs the last three bytes of a MAC address, XX-XX-XX in "
                           "hexadecimal (such as 00-01-C9), not '%1'")
                    .arg(v);
        }
        return {};
    }
    for (const ValueSwitch& v : kValueSwitches) {
        if (name != QLatin1String(v.name))
            continue;
        const std::optional<QString> text = value();
        if (!text || !v.read(*text, a))
            return QString::fromLatin1(v.error).replace(QLatin1String("%1"),
                                                        text.value_or(QString()));
        return {};
    }
    return QStringLiteral("unknown switch %1").arg(s);
}

// Reads a word that is no switch: first the link, then its command, then block set's two
// addresses. The error text, empty when the word fits there.
QString ReadWord(const QString& s, TCliArgs* a) {
    if (a->link == TCliLink::None) {
        for (const LinkWord& w : kLinks) {
            if (s == QLatin1String(w.text)) {
                a->link = w.link;
                // "label" is its own command.
                if (w.link == TCliLink::Label)
                    a->command = TCliCommand::Label;
                return {};
            }
        }
    } else if (a->command == TCliCommand::None) {
        const TCliLink owner = a->link == TCliLink::Telnet ? TCliLink::Serial : a->link;
        for (const Word& w : kCommands) {
            if (w.link == owner && s == QString::fromLatin1(w.text).section(QLatin1Char(' '), -1)) {
                a->command = w.command;
                return {};
            }
        }
        return QStringLiteral("unknown command %1").arg(s);
    } else if (a->command == TCliCommand::Label && !a->labelLow) {
        // The whole address, or its three bytes after 02-5A-C3.
        const QString text = s.toUpper();
        const QString prefix = QStringLiteral("02-5A-C3-");
        const std::optional<std::array<int, 3>> b =
            ParseMacBytes(text.startsWith(prefix) ? text.mid(prefix.size()) : text);
        if (!b)
            return QStringLiteral("label needs XX-XX-XX or 02-5A-C3-XX-XX-XX, not '%1'").arg(s);
        a->labelLow = (*b)[0] << 16 | (*b)[1] << 8 | (*b)[2];
        return {};
    } else if ((a->command == TCliCommand::PlanImport || a->command == TCliCommand::PlanCheck) &&
               a->planFile.isEmpty()) {
        a->planFile = s;
        return {};
    } else if (a->command == TCliCommand::RecordBackup && a->backup.isEmpty()) {
        a->backup = s;
        return {};
    } else if (a->command == TCliCommand::BlockSet && a->block.size() < 2) {
        const std::optional<std::array<int, 3>> b = ParseMacBytes(s);
        if (!b)
            return QStringLiteral("block set needs XX-XX-XX, not '%1'").arg(s);
        a->block << ((*b)[0] << 16 | (*b)[1] << 8 | (*b)[2]);
        return {};
    }
    return QStringLiteral("unexpected word %1").arg(s);
}

}  // namespace

QString CommandWord(TCliCommand c) {
    for (const Word& w : kCommands) {
        if (w.command == c)
            return QLatin1String(w.text);
    }
    return {};
}

bool ParseCliArgs(const QStringList& args, TCliArgs* out, QString* error) {
    // --help wins, whatever else the line holds; then --version.
    out->json = args.contains(QLatin1String("--json"));
    if (args.contains(QLatin1String("--help")) || args.contains(QLatin1String("-h"))) {
        out->help = true;
        return true;
    }
    if (args.contains(QLatin1String("--version"))) {
        out->version = true;
        return true;
    }
    TCliArgs a;
    QString problem;
    QStringList seen;
    for (int i = 0; i < args.size() && problem.isEmpty(); ++i)
        problem = args[i].startsWith(QLatin1Char('-')) ? ReadSwitch(args, &i, &a, &seen)
                                                       : ReadWord(args[i], &a);
    if (problem.isEmpty())
        problem = CheckCombination(a);
    if (!problem.isEmpty()) {
        *error = problem;
        return false;
    }
    *out = a;
    return true;
}
