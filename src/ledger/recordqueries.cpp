#include "ledger/recordqueries.h"

#include <QMap>
#include <QSet>
#include <QSqlError>
#include <cstring>

#include "board/macaddress.h"
#include "board/recordline.h"
#include "ledger/ledgerdb.h"
#include "ledger/ledgersql.h"

using namespace ledgersql;

namespace {

using TStationMap = QMap<QString, TStationStats>;

// The station's counts, begun with its name when it has none yet.
TStationStats& StationIn(TStationMap* stations, const QString& name) {
    TStationStats& st = (*stations)[name];
    st.station = name;
    return st;
}

// Adds `n` to the count `field`, in all and of `station`.
void Add(TLedgerStats* s, TStationMap* stations, const QString& station,
         qint64 TStationStats::*field, qint64 n) {
    StationIn(stations, station).*field += n;
    s->*field += n;
}

// The command rows and the NG ones among them, in all and per station.
void CountCommands(TLedgerDb& db, TLedgerStats* s, TStationMap* stations) {
    QSqlQuery q =
        db.Exec("SELECT station, result, COUNT(*) FROM commands GROUP BY station, result");
    while (q.next()) {
        const qint64 n = q.value(2).toLongLong();
        const QString station = q.value(0).toString();
        Add(s, stations, station, &TStationStats::rows, n);
        if (q.value(1).toString() == QLatin1String("NG"))
            Add(s, stations, station, &TStationStats::ng, n);
    }
}

// The addresses by state, in all and per station (reservations in all only). A reservation
// whose owner has ended counts as burned; the owners are asked only once the query is read.
void CountAddresses(TLedgerDb& db, TLedgerStats* s, TStationMap* stations) {
    struct Group {
        QString station;
        TAddressState state;
        QString owner;
        qint64 n;
    };
    QList<Group> groups;
    {
        QSqlQuery q = db.Exec(
            "SELECT station, state, owner, COUNT(*) FROM addresses GROUP BY station, state, owner");
        while (q.next())
            groups.append({q.value(0).toString(), StateOf(q.value(1).toString()),
                           q.value(2).toString(), q.value(3).toLongLong()});
    }
    for (Group& g : groups) {
        if (g.state == TAddressState::Reserved && !db.OwnerAlive(g.owner))
            g.state = TAddressState::Burned;
        if (g.state == TAddressState::Reserved) {
            StationIn(stations, g.station);
            s->reserved += g.n;
            continue;
        }
        Add(s, stations, g.station,
            g.state == TAddressState::Given      ? &TStationStats::given
            : g.state == TAddressState::Released ? &TStationStats::released
                                                 : &TStationStats::burned,
            g.n);
    }
}

// The boards by their last check. Each given address is a board; one that a check read but
// the ledger never gave is one too (it failed its check).
void CountChecks(TLedgerDb& db, TLedgerStats* s) {
    QSet<int> given;
    {
        QSqlQuery q = db.Exec("SELECT low FROM addresses WHERE state = 'given'");
        while (q.next())
            given.insert(q.value(0).toInt());
    }
    // The last check of each board, through the index of the check rows.
    QSqlQuery q = db.Exec(
        "SELECT c.mac, c.result FROM commands c WHERE c.command = 'check' AND c.mac <> '' AND "
        "c.id = (SELECT MAX(d.id) FROM commands d WHERE d.command = 'check' AND d.mac = c.mac)");
    while (q.next()) {
        (q.value(1).toString() == QLatin1String("OK") ? s->checked : s->checkNg) += 1;
        if (const std::optional<int> low = MacLowOfText(q.value(0).toString()))
            given.remove(*low);
    }
    s->unchecked = given.size();
}

}  // namespace

void CountRecord(TLedgerDb& db, TLedgerStats* s) {
    TStationMap stations;
    CountCommands(db, s, &stations);
    CountAddresses(db, s, &stations);
    CountChecks(db, s);
    s->stations = stations.values();
}

namespace {

// The WHERE clause of `f` and `also` (from "WHERE" on, or nothing) and the values it binds.
QByteArray WhereOf(const TRecordFilter& f, const char* also, QVariantList* values) {
    QByteArrayList terms;
    if (also)
        terms << also;
    if (f.since.isValid()) {
        terms << "utc >= ?";
        *values << f.since.toSecsSinceEpoch();
    }
    if (!f.mac.isEmpty()) {
        terms << "mac LIKE ?";
        *values << QLatin1Char('%') + f.mac + QLatin1Char('%');
    }
    if (!f.station.isEmpty()) {
        terms << "station = ?";
        *values << f.station;
    }
    return terms.isEmpty() ? QByteArray() : " WHERE " + terms.join(" AND ");
}

// `sql` run with the clause of the filter and `also` in place of "{where}".
QSqlQuery Selected(TLedgerDb& db, const char* sql, const TRecordFilter& f, bool forwardOnly,
                   const char* also = nullptr) {
    QVariantList values;
    const QByteArray text = QByteArray(sql).replace("{where}", WhereOf(f, also, &values));
    QSqlQuery q = db.Prepare(text.constData(), values);
    q.setForwardOnly(forwardOnly);
    if (!db.Watched([&] { return q.exec(); }))
        throw ELedgerError(
            QStringLiteral("製造記録 %1 を読めません: %2").arg(db.Where(), q.lastError().text()));
    return q;
}

}  // namespace

namespace {

// The export's columns, in its order.
#define NB_EXPORT_COLUMNS \
    "time, command, link, mac, own_ip, result, failed, station, " NB_SENT_COLUMNS
constexpr int kExportColumns = 8 + kSentColumnCount;
constexpr int kResultColumn = 5;

// The export's line of a row of NB_EXPORT_COLUMNS as Qt's driver reads it.
void AppendLineOf(QByteArray* out, const QSqlQuery& q) {
    TRecordLine line;
    line.command = q.value(1).toString();
    line.link = q.value(2).toString();
    line.mac = q.value(3).toString();
    line.ownIp = q.value(4).toString();
    line.ok = q.value(5).toString() == QLatin1String("OK");
    line.failed = q.value(6).toString();
    line.station = q.value(7).toString();
    for (int i = 0; i < kSentColumnCount; ++i) {
        const QString value = q.value(8 + i).toString();
        if (!value.isEmpty())
            line.sent[QLatin1String(kSentKeys[i])] = value;
    }
    AppendExportLine(out, line, q.value(0).toString());
}

// The same line from the columns' UTF-8 text; false, with nothing appended, for a value that is
// not text or not UTF-8 (a file edited outside the program), which only Qt's reading gives as
// before.
bool AppendLineOfUtf8(QByteArray* out, const QByteArrayView* columns) {
    const qsizetype start = out->size();
    qsizetype room = 0;
    for (int i = 0; i < kExportColumns; ++i) {
        if (columns[i].isNull())
            return false;
        room += 2 * columns[i].size() + 4;
    }
    // Mostly ASCII, written in place into the room for its longest form.
    out->resize(start + room);
    char* w = out->data() + start;
    for (int i = 0; i < kExportColumns && w; ++i) {
        if (i > 0)
            *w++ = ',';
        if (i == kResultColumn) {
            std::memcpy(w, columns[i] == "OK" ? "OK" : "NG", 2);
            w += 2;
        } else {
            w = WriteCsvFieldAscii(w, columns[i]);
        }
    }
    if (w) {
        out->truncate(w - out->constData());
        return true;
    }
    out->truncate(start);
    for (int i = 0; i < kExportColumns; ++i) {
        if (i > 0)
            out->append(',');
        if (i == kResultColumn) {
            out->append(columns[i] == "OK" ? "OK" : "NG");
        } else if (!AppendCsvFieldUtf8(out, columns[i])) {
            out->truncate(start);
            return false;
        }
    }
    return true;
}

}  // namespace

qint64 ExportRecord(TLedgerDb& db, const TRecordFilter& filter,
                    const std::function<void(const QByteArray&)>& write) {
    // The lines go out a run at a time: one write a line would cost more than the line.
    constexpr qsizetype kRun = 64 * 1024;
    QByteArray out = QByteArray(kRecordExportHeader) + "\r\n";
    out.reserve(kRun + 1024);
    qint64 rows = 0;
    auto ended = [&] {
        out.append("\r\n");
        ++rows;
        if (out.size() >= kRun) {
            write(out);
            out.resize(0);  // the room stays reserved
        }
    };
    // A local file's rows as SQLite keeps them; a row they cannot give as before is read again
    // through Qt's driver.
    QVariantList values;
    const QByteArray sql = "SELECT " NB_EXPORT_COLUMNS ", CAST(id AS TEXT) FROM commands" +
                           WhereOf(filter, nullptr, &values) + " ORDER BY id";
    const bool local = db.ReadText(sql.constData(), values, [&](const QByteArrayView* columns) {
        if (!AppendLineOfUtf8(&out, columns)) {
            QSqlQuery q = db.Exec("SELECT " NB_EXPORT_COLUMNS " FROM commands WHERE id = ?",
                                  {columns[kExportColumns].toLongLong()});
            if (q.next())
                AppendLineOf(&out, q);
        }
        ended();
    });
    if (!local) {
        QSqlQuery q = Selected(db, "SELECT " NB_EXPORT_COLUMNS " FROM commands{where} ORDER BY id",
                               filter, true);
        while (db.Watched([&] { return q.next(); })) {
            AppendLineOf(&out, q);
            ended();
        }
        if (q.lastError().isValid())
            db.Fail(QStringLiteral("を最後まで読めません"), q.lastError().text());
    }
    if (!out.isEmpty())
        write(out);
    return rows;
}

TRecordCounts CountFiltered(TLedgerDb& db, const TRecordFilter& filter) {
    TRecordCounts c;
    QSqlQuery q = Selected(db,
                           "SELECT COUNT(*), COALESCE(SUM(CASE WHEN result = 'NG' THEN 1 ELSE 0 "
                           "END), 0) FROM commands{where}",
                           filter, true);
    if (q.next()) {
        c.rows = q.value(0).toLongLong();
        c.ng = q.value(1).toLongLong();
    }
    // The boards written: the addresses given, each once (an acknowledged "save" gives the
    // address, a failed verification after it included).
    QSqlQuery b = Selected(db, "SELECT COUNT(DISTINCT mac) FROM commands{where}", filter, true,
                           "(result = 'OK' OR failed = 'verify') AND "
                           "command IN ('write-mac', 'telnet-write-mac', 'mac-rewrite')");
    if (b.next())
        c.boards = b.value(0).toLongLong();
    return c;
}

qint64 CountUnlabelled(TLedgerDb& db) {
    QSqlQuery q = db.Exec(
        "SELECT COUNT(DISTINCT g.mac) FROM commands g WHERE "
        "(g.result = 'OK' OR g.failed = 'verify') AND "
        "g.command IN ('write-mac', 'telnet-write-mac', 'mac-rewrite') AND NOT EXISTS "
        "(SELECT 1 FROM commands l WHERE l.mac = g.mac AND l.result = 'OK' AND "
        "l.command IN ('label', 'label-reprint'))");
    return q.next() ? q.value(0).toLongLong() : 0;
}

QStringList RecordStations(TLedgerDb& db) {
    QStringList names;
    QSqlQuery q = db.Exec("SELECT DISTINCT station FROM commands ORDER BY station");
    while (q.next())
        names << q.value(0).toString();
    return names;
}

QSqlQuery RecordRows(TLedgerDb& db, const TRecordFilter& filter) {
    return Selected(db,
                    "SELECT time, station, command, link, mac, own_ip, result, failed "
                    "FROM commands{where} ORDER BY id DESC{view}",
                    filter, false);
}
