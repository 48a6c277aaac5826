// The statements and small helpers the ledger's files share. Internal to the ledger.
#pragma once

#include <QSqlQuery>
#include <QString>
#include <QVariantList>

#include "board/recordline.h"
#include "ledger/ledgertypes.h"

namespace ledgersql {

inline constexpr const char* kUpsertAddress =
    "INSERT INTO addresses (low, state, time, command, station, owner, link, own_ip) "
    "VALUES (?, ?, ?, ?, ?, ?, ?, ?) "
    "ON CONFLICT (low) DO UPDATE SET state = excluded.state, time = excluded.time, "
    "command = excluded.command, station = excluded.station, owner = excluded.owner, "
    "link = excluded.link, own_ip = excluded.own_ip";
// A burning never replaces a giving, and always a release: the board may hold the address.
inline constexpr const char* kBurnAddress =
    "INSERT INTO addresses (low, state, time, command, station, owner) "
    "VALUES (?, 'burned', ?, ?, ?, '') ON CONFLICT (low) DO UPDATE SET state = 'burned', "
    "time = excluded.time, command = excluded.command, station = excluded.station, owner = '' "
    "WHERE addresses.state = 'released'";
// The columns of the values a command sent, in the order of kSentKeys.
#define NB_SENT_COLUMNS                                                                       \
    "sent_l_ip, sent_l_pt, sent_f_ip, sent_f_pt, sent_mask, sent_conn, sent_bps, sent_timv, " \
    "sent_keep, sent_timr, sent_madr"
#define NB_SENT_PLACES "?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?"
inline constexpr int kSentColumnCount = 11;
// The columns a row keeps after its result: where it came from, what it sent and the plan row
// it took. A row copied from one ledger to another carries them all.
#define NB_ROW_TAIL_COLUMNS "origin, " NB_SENT_COLUMNS ", plan_row"
#define NB_ROW_TAIL_PLACES "?, " NB_SENT_PLACES ", ?"
inline constexpr int kRowTailCount = 1 + kSentColumnCount + 1;
inline constexpr const char* kInsertRow =
    "INSERT INTO commands (time, utc, station, command, link, mac, own_ip, result, failed, "
    "pending, " NB_ROW_TAIL_COLUMNS ") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, " NB_ROW_TAIL_PLACES
    ")";
// A row copied into a shared ledger (a station's own ledger joining it, a row kept while it was
// away): once only, however often the copy is tried.
inline constexpr const char* kInsertCopiedRow =
    "INSERT INTO commands (time, utc, station, command, link, mac, own_ip, result, failed, "
    "" NB_ROW_TAIL_COLUMNS ") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, " NB_ROW_TAIL_PLACES
    ") ON CONFLICT (origin) DO NOTHING";
// A write that changes nothing: it still needs the write lock and write access.
inline constexpr const char* kNoChange = "UPDATE ledger_schema SET version = version";

// The state as the addresses table names it, and back ("free" is never stored; an unknown name
// reads as burned, which is never handed out without a question).
QLatin1String StateName(TAddressState state);
TAddressState StateOf(const QString& name);

// The first column of a one-row query as a number; `none` when it is NULL or there is no row.
qint64 Number(QSqlQuery q, qint64 none = 0);

// The values of the sent columns, in their order.
QVariantList SentColumnValues(const TSentValues& sent);
// The values of kInsertRow for `row` (of `station` unless the row names one). `timeText`: the
// time as an imported line wrote it; empty: the row's own time. `origin` names a row kept on a
// station for the shared ledger (pending until copied).
QVariantList RowValues(const TRecordLine& row, const QString& station,
                       const QString& timeText = QString(), const QString& origin = QString());

}  // namespace ledgersql
