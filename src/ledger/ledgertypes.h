// The values the production ledger speaks in: address states and what is known of an address,
// the MAC address block, counts, reservations and a ledger's identity.
#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>
#include <utility>

#include "board/siteplan.h"

enum class TAddressState { Free, Reserved, Given, Released, Burned };

struct TAddressInfo {
    TAddressState state = TAddressState::Free;
    QString time;     // when it was given, burned, released or reserved (record time text)
    QString command;  // the command that did so
    QString station;
    QString owner;  // the reserving process, while reserved
    QString ownIp;  // the own IP address the command that gave (or reserved) it wrote
    // A reservation of an owner that is still at work (this one included) is a command under
    // way; one of an owner that has ended counts as burned.
    bool operator==(const TAddressInfo& o) const {
        return state == o.state && time == o.time && command == o.command && owner == o.owner;
    }
};

// A MAC address block: its first and last address, both included.
struct TMacBlock {
    int first = 0;
    int last = 0;
    bool Contains(int low) const { return low >= first && low <= last; }
};

// What an address is reserved for: the command, the link and the own IP address it writes, so
// that a reservation a crash left behind becomes the command's row.
struct TReservationTag {
    TReservationTag(QString command_, QString link_ = {}, QString ownIp_ = {})
        : command(std::move(command_)), link(std::move(link_)), ownIp(std::move(ownIp_)) {}
    TReservationTag(const char* command_) : command(QLatin1String(command_)) {}
    QString command;
    QString link;
    QString ownIp;
};

// A ledger's identity: made once with the ledger; the addresses up to its high-water mark (the
// highest a lost ledger before it had reserved, -1: none) count as used.
struct TLedgerIdentity {
    QString id;
    QString created;  // record time text
    int highWater = -1;
};

// The command rows, the NG ones among them, and the addresses by state.
struct TStationStats {
    QString station;
    qint64 rows = 0;
    qint64 ng = 0;
    qint64 given = 0;
    qint64 released = 0;
    qint64 burned = 0;
};

// The counts of all stations (no station named), and what only the whole ledger has.
struct TLedgerStats : TStationStats {
    qint64 reserved = 0;
    std::optional<TMacBlock> block;
    qint64 remaining = 0;  // addresses of the block still to be given
    // The boards (addresses given, and any other a check read) by their last check: passed,
    // never checked, failed.
    qint64 checked = 0;
    qint64 unchecked = 0;
    qint64 checkNg = 0;
    QList<TStationStats> stations;  // by name
};

// Which rows the record window shows and an export writes: from `since` on (all when invalid),
// whose MAC address holds `mac` (all when empty), of `station` (all when empty).
struct TRecordFilter {
    QDateTime since;
    QString mac;
    QString station;
    bool Any() const { return since.isValid() || !mac.isEmpty() || !station.isEmpty(); }
};

// What a filter selects: the rows, the NG ones among them, and the boards written (the
// addresses an OK command gave).
struct TRecordCounts {
    qint64 rows = 0;
    qint64 ng = 0;
    qint64 boards = 0;
};

// Which row of the open site plan a write takes.
struct TPlanPick {
    QString serial;  // the row with this serial
    int number = 0;  // else this row, as the operator was shown it; 0: the next one not used
};

// A plan row a command took: its plan and the row as the plan gives it.
struct TPlanTaken {
    qint64 plan = 0;
    QString name;
    TPlanRow row;
    QString owner;  // the reservation's owner
    // As the command's row names it: "site-a#17".
    QString RowText() const { return name + QLatin1Char('#') + QString::number(row.number); }
};

// A write's claim on the open plan: what it asks for, and once reserved what it took.
struct TPlanClaim {
    TPlanPick pick;
    std::optional<TPlanTaken> taken;
};

// The open site plan, counted, with the row the next write takes (none when all are taken).
struct TPlanStatus {
    qint64 id = 0;
    QString name;
    QString created;
    QStringList keys;
    qint64 rows = 0;
    qint64 used = 0;  // given: "save" acknowledged
    qint64 reserved = 0;
    qint64 burned = 0;
    qint64 remaining = 0;  // free and released
    std::optional<TPlanRow> next;
};
