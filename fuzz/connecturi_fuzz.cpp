// The splitter of the shared ledger's connection URI on any text, and on URIs built from any
// parts: what it gives the PostgreSQL driver is always a list of name='value' that the driver
// reads back as those parameters, never with a password, always with a connect time-out and the
// program's name; a refused URI has its reason. A URI built from parts, each percent-encoded,
// gives exactly those parts.
//
// Input layout: byte 0: bit 0 puts "postgresql://" before the text, bit 1 builds a URI from
// parts instead (the rest split at NUL bytes: user, host, port, database, then name and value
// pairs of the query).
#include <QList>
#include <QStringList>
#include <QUrl>
#include <utility>

#include "chunks.h"
#include "ledger/ledgerdb.h"

namespace {

using TParams = QList<std::pair<QString, QString>>;

// Reads the driver's options back as the driver does: items separated by ";", each
// name='value' with "\\" and "\'" escaped. False for anything else.
bool ReadOptions(const QString& options, TParams* out) {
    for (const QString& item : options.split(QLatin1Char(';'))) {
        const auto eq = item.indexOf(QLatin1Char('='));
        if (eq <= 0 || item.size() < eq + 3 || item[eq + 1] != QLatin1Char('\'') ||
            !item.endsWith(QLatin1Char('\'')))
            return false;
        QString value;
        for (qsizetype i = eq + 2; i < item.size() - 1; ++i) {
            if (item[i] == QLatin1Char('\'') && i + 1 < item.size())
                return false;  // a quote that is not escaped ends the value early
            if (item[i] == QLatin1Char('\\')) {
                if (++i >= item.size() - 1)
                    return false;
            }
            value += item[i];
        }
        const QString name = item.left(eq);
        if (name.contains(QLatin1Char(' ')))
            return false;
        out->append({name, value});
    }
    return true;
}

QString Encoded(const QByteArray& part) {
    return QString::fromLatin1(part.toPercentEncoding());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const QByteArray rest(reinterpret_cast<const char*>(data + 1),
                          static_cast<qsizetype>(size - 1));
    QString uri = (data[0] & 1u) ? QStringLiteral("postgresql://") : QString();
    // The parameters the built URI names, in order, the later replacing an earlier one.
    TParams named;
    const bool built = (data[0] & 2u) != 0;
    const auto name = [&named](const QString& n, const QString& v) {
        for (auto& p : named) {
            if (p.first == n) {
                p.second = v;
                return;
            }
        }
        named.append({n, v});
    };
    if (built) {
        const QList<QByteArray> parts = rest.split('\0');
        const QByteArray user = parts.value(0), host = parts.value(1), db = parts.value(3);
        QByteArray port = parts.value(2);
        port.removeIf([](char c) { return c < '0' || c > '9'; });
        uri = QStringLiteral("postgresql://");
        if (!user.isEmpty()) {
            uri += Encoded(user) + QLatin1Char('@');
            name(QStringLiteral("user"), QString::fromUtf8(user));
        }
        uri += Encoded(host);
        if (!host.isEmpty())
            name(QStringLiteral("host"), QString::fromUtf8(host));
        if (!port.isEmpty()) {
            uri += QLatin1Char(':') + QString::fromLatin1(port);
            name(QStringLiteral("port"), QString::fromLatin1(port));
        }
        uri += QLatin1Char('/') + Encoded(db);
        if (!db.isEmpty())
            name(QStringLiteral("dbname"), QString::fromUtf8(db));
        QStringList query;
        for (qsizetype i = 4; i + 1 < parts.size(); i += 2) {
            if (parts[i].isEmpty())
                continue;
            query << Encoded(parts[i]) + QLatin1Char('=') + Encoded(parts[i + 1]);
            name(QString::fromUtf8(parts[i]), QString::fromUtf8(parts[i + 1]));
        }
        if (!query.isEmpty())
            uri += QLatin1Char('?') + query.join(QLatin1Char('&'));
    } else {
        uri += QString::fromUtf8(rest);
    }

    QString options;
    QString error;
    const bool ok = ConnectOptionsOfUri(uri, &options, &error);
    FUZZ_CHECK(ok == error.isEmpty());
    if (!ok)
        return 0;
    // The driver takes the options as a C string.
    FUZZ_CHECK(!options.contains(QChar(0)));
    TParams read;
    FUZZ_CHECK(ReadOptions(options, &read));
    int timeouts = 0;
    for (qsizetype i = 0; i < read.size(); ++i) {
        FUZZ_CHECK(read[i].first != QLatin1String("password"));
        timeouts += read[i].first == QLatin1String("connect_timeout") ? 1 : 0;
        for (qsizetype j = 0; j < i; ++j)
            FUZZ_CHECK(read[j].first != read[i].first);
    }
    FUZZ_CHECK(timeouts == 1);
    FUZZ_CHECK(read.last() == std::make_pair(QStringLiteral("fallback_application_name"),
                                             QStringLiteral("netboard-config")));
    if (built) {
        // The parts, then the time-out where they name none, then the program's name.
        TParams want = named;
        if (!std::any_of(named.begin(), named.end(),
                         [](const auto& p) { return p.first == QLatin1String("connect_timeout"); }))
            want.append({QStringLiteral("connect_timeout"), QStringLiteral("5")});
        // Keep-alive probes, each where they name none.
        for (const auto& [key, value] : {std::pair{"keepalives_idle", "5"},
                                         std::pair{"keepalives_interval", "3"},
                                         std::pair{"keepalives_count", "3"}}) {
            if (!std::any_of(named.begin(), named.end(),
                             [key = key](const auto& p) { return p.first == QLatin1String(key); }))
                want.append({QString::fromLatin1(key), QString::fromLatin1(value)});
        }
        want.append(read.last());
        FUZZ_CHECK(read == want);
    }
    return 0;
}
