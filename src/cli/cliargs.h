// The command line of netboard-cli: which link, which command, and the switches. Parsing does
// no I/O; a line that cannot be run gives an error text for a usage error (exit status 2).
#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <array>
#include <optional>

enum class TCliLink { None, Serial, Telnet, Record, Block, Label, Plan };
enum class TCliCommand {
    None,
    Write,
    MacRewrite,
    Read,
    Check,
    RomVersion,
    RecordStatus,
    RecordExport,
    RecordBackup,
    RecordNew,
    BlockSet,
    Label,
    PlanImport,
    PlanCheck,
    PlanStatus,
    PlanExport,
    PlanClose
};

struct TCliArgs {
    TCliLink link = TCliLink::None;
    TCliCommand command = TCliCommand::None;
    std::optional<int> port;                    // --port N
    QString device;                             // --device PATH
    std::optional<std::array<int, 4>> address;  // --address A.B.C.D
    bool withMac = false;                       // write --mac
    std::optional<std::array<int, 3>> mac;      // mac-rewrite --mac XX-XX-XX
    QString ini;                                // --ini FILE (empty: the window's settings file)
    QDateTime since;                            // record export --since DATE
    QString backup;                             // record backup FILE
    bool force = false;                         // record new --force
    QList<int> block;             // block set FIRST LAST: the three low bytes of each as one number
    std::optional<int> labelLow;  // label MAC: its three low bytes as one number
    QString planFile;             // plan import FILE, plan check FILE
    QString planName;             // plan import --name NAME
    QString serial;               // write --serial S
    bool verify = false;
    bool allowReuse = false;
    bool json = false;  // standard output holds one JSON document with the result, nothing else
    bool help = false;
    bool version = false;
};

// Parses the arguments after the program name. On a usage error returns false with a one-line
// `error`. --help anywhere wins over everything else, --version over the rest; with either, `json`
// tells whether the line holds --json.
bool ParseCliArgs(const QStringList& args, TCliArgs* out, QString* error);

// The command as the line names it ("write", "record status", ...); "" for None.
QString CommandWord(TCliCommand c);

extern const char* const kCliHelp;
