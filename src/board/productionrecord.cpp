#include "board/productionrecord.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <cerrno>
#include <cstring>

#include "core/exceptions.h"

namespace {

// A field as ASCII: other characters become "?"; a field holding a comma or a quote is quoted.
QString CsvField(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text)
        out.append(c.unicode() >= 0x20 && c.unicode() < 0x7F ? c : QLatin1Char('?'));
    if (out.contains(QLatin1Char(',')) || out.contains(QLatin1Char('"')))
        out = QLatin1Char('"') + out.replace(QLatin1String("\""), QLatin1String("\"\"")) +
              QLatin1Char('"');
    return out;
}

// Splits one CSV line; false when a quoted field is not closed.
bool SplitCsv(const QString& line, QStringList* fields) {
    QString field;
    bool quoted = false;
    for (int i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (quoted) {
            if (c == QLatin1Char('"')) {
                if (i + 1 < line.size() && line[i + 1] == QLatin1Char('"')) {
                    field.append(c);
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                field.append(c);
            }
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char(',')) {
            fields->append(field);
            field.clear();
        } else {
            field.append(c);
        }
    }
    fields->append(field);
    return !quoted;
}

bool IsMacText(const QString& s) {
    static const QString shape = QStringLiteral("HH-HH-HH-HH-HH-HH");
    if (s.size() != shape.size())
        return false;
    for (int i = 0; i < s.size(); ++i) {
        const QChar c = s[i];
        if (shape[i] == QLatin1Char('-') ? c != QLatin1Char('-')
                                         : !(c.isDigit() || (c >= 'A' && c <= 'F')))
            return false;
    }
    return true;
}

// "YYYY-MM-DDTHH:MM:SS" at the start: enough to tell a time from anything else without the cost
// of a full parse for every line of a long record.
bool LooksLikeTime(const QString& s) {
    static const QString shape = QStringLiteral("0000-00-00T00:00:00");
    if (s.size() < shape.size())
        return false;
    for (int i = 0; i < shape.size(); ++i) {
        if (shape[i] == QLatin1Char('0') ? !s[i].isDigit() : s[i] != shape[i])
            return false;
    }
    return true;
}

QString TimeText(const QDateTime& t) {
    return t.toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODate);
}

[[noreturn]] void WriteFailed(const QString& path, int err) {
    throw EFCreateError(QStringLiteral("製造記録 %1 に書き込めません: %2")
                            .arg(path, QString::fromLocal8Bit(std::strerror(err))));
}

}  // namespace

TProductionRecord::TProductionRecord(QString path) : path_(std::move(path)) {
    QFile f(path_);
    if (!f.open(QIODevice::ReadOnly))
        return;
    const QByteArray all = f.readAll();
    for (const QByteArray& raw : all.split('\n')) {
        QStringList fields;
        // Only OK lines with an address count; the time is checked by its shape alone.
        if (!SplitCsv(QString::fromLatin1(raw).trimmed(), &fields) || fields.size() != 7 ||
            fields[5] != QLatin1String("OK") || !IsMacText(fields[3]) || !LooksLikeTime(fields[0]))
            continue;
        given_.insert(fields[3], fields[0]);
    }
}

QString TProductionRecord::PathBesideIni(const QString& iniPath) {
    const QFileInfo fi(iniPath);
    const QString name = fi.fileName();
    const int dot = static_cast<int>(name.lastIndexOf(QLatin1Char('.')));
    const QString stem = dot > 0 ? name.left(dot) : name;
    return fi.dir().filePath(stem + QStringLiteral("-record.csv"));
}

QString TProductionRecord::Format(const TRecordLine& l) {
    const QStringList fields = {
        TimeText(l.time), l.command, l.link, l.mac, l.ownIp, QLatin1String(l.ok ? "OK" : "NG"),
        l.failed};
    QStringList out;
    for (const QString& f : fields)
        out << CsvField(f);
    return out.join(QLatin1Char(','));
}

bool TProductionRecord::Parse(const QString& text, TRecordLine* line, QString* timeText) {
    QStringList f;
    if (!SplitCsv(text, &f) || f.size() != 7)
        return false;
    if (f[5] != QLatin1String("OK") && f[5] != QLatin1String("NG"))
        return false;
    if (!f[3].isEmpty() && !IsMacText(f[3]))
        return false;
    const QDateTime t = QDateTime::fromString(f[0], Qt::ISODate);
    if (!LooksLikeTime(f[0]) || !t.isValid())
        return false;
    *timeText = f[0];
    *line = {t, f[1], f[2], f[3], f[4], f[5] == QLatin1String("OK"), f[6]};
    return true;
}

void TProductionRecord::Append(const TRecordLine& line) {
    const QByteArray file = QFile::encodeName(path_);
    const int fd = ::open(file.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        WriteFailed(path_, errno);
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        WriteFailed(path_, errno);
    QByteArray bytes;
    if (st.st_size == 0) {
        bytes = QByteArray(kHeader) + "\r\n";
    } else {
        // A last line without its end (cut off by a crash) must not swallow this one.
        char last = '\n';
        if (::pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n')
            bytes = "\r\n";
    }
    bytes += Format(line).toLatin1() + "\r\n";
    // One write puts the whole line in place; a short write (a full disk) goes on from where it
    // stopped rather than leave half a line.
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n =
            ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            WriteFailed(path_, n < 0 ? errno : ENOSPC);
        done += n;
    }
    if (::fsync(fd) != 0)
        WriteFailed(path_, errno);
    if (line.ok && !line.mac.isEmpty())
        given_.insert(line.mac, TimeText(line.time));
}

std::optional<QString> TProductionRecord::GivenBefore(const QString& mac) const {
    const auto it = given_.constFind(mac);
    if (it == given_.constEnd())
        return std::nullopt;
    return *it;
}
