#include "board/recordline.h"

#include <QDir>
#include <QFileInfo>
#include <QStringDecoder>
#include <QStringList>
#include <array>
#include <cstring>
#include <iterator>

// A field as ASCII, appended to `out`: other characters become "?"; a field holding a comma or a
// quote is quoted. One that begins as a formula would ("=", "+", "-", "@") gets a leading
// apostrophe, so that a spreadsheet shows it as text instead of running it.
void AppendCsvField(QByteArray* out, const QString& text) {
    bool quote = false;
    for (const QChar c : text)
        quote = quote || c == QLatin1Char(',') || c == QLatin1Char('"');
    if (quote)
        out->append('"');
    if (!text.isEmpty() && QStringLiteral("=+-@").contains(text.front()))
        out->append('\'');
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'"')
            out->append("\"\"");
        else
            out->append(u >= 0x20 && u < 0x7F ? static_cast<char>(u) : '?');
    }
    if (quote)
        out->append('"');
}

namespace {

// What a byte asks of its field: kQuote quotes it (a comma or a quote), kReplace is written as
// "?" (a control character), kNotAscii sends it to the UTF-16 rules.
constexpr uchar kQuote = 1, kReplace = 2, kNotAscii = 4;
constexpr std::array<uchar, 256> kByteNeeds = [] {
    std::array<uchar, 256> needs{};
    for (int c = 0; c < 256; ++c)
        needs[c] = c >= 0x80               ? kNotAscii
                   : c < 0x20 || c == 0x7F ? kReplace
                   : c == ',' || c == '"'  ? kQuote
                                           : 0;
    return needs;
}();

}  // namespace

char* WriteCsvFieldAscii(char* w, QByteArrayView ascii) {
    uchar needs = 0;
    for (const char c : ascii)
        needs |= kByteNeeds[static_cast<uchar>(c)];
    if (needs & kNotAscii)
        return nullptr;
    if (needs & kQuote)
        *w++ = '"';
    if (!ascii.isEmpty() && std::memchr("=+-@", ascii.front(), 4))
        *w++ = '\'';
    if (needs == 0) {
        std::memcpy(w, ascii.data(), ascii.size());
        w += ascii.size();
    } else {
        for (const char c : ascii) {
            if (c == '"')
                *w++ = '"';
            *w++ = kByteNeeds[static_cast<uchar>(c)] & kReplace ? '?' : c;
        }
    }
    if (needs & kQuote)
        *w++ = '"';
    return w;
}

bool AppendCsvFieldUtf8(QByteArray* out, QByteArrayView utf8) {
    const qsizetype at = out->size();
    out->resize(at + 2 * utf8.size() + 3);
    if (char* end = WriteCsvFieldAscii(out->data() + at, utf8)) {
        out->truncate(end - out->constData());
        return true;
    }
    out->truncate(at);
    // Other characters than ASCII: one "?" for each UTF-16 unit of the text, as above.
    QStringDecoder decode(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                    QStringDecoder::Flag::ConvertInitialBom);
    const QString text = decode(utf8);
    if (decode.hasError())
        return false;
    AppendCsvField(out, text);
    return true;
}

namespace {

// The record's columns of `l`, appended to `out`.
void AppendRecordFields(QByteArray* out, const TRecordLine& l, const QString& timeText) {
    AppendCsvField(out, timeText.isEmpty() ? RecordTimeText(l.time) : timeText);
    for (const QString* f : {&l.command, &l.link, &l.mac, &l.ownIp}) {
        out->append(',');
        AppendCsvField(out, *f);
    }
    out->append(l.ok ? ",OK," : ",NG,");
    AppendCsvField(out, l.failed);
}

// Whether `s` starts with the characters of `shape`, where "0" stands for any digit and "H" for a
// digit or an uppercase letter A to F.
bool StartsWithShape(const QString& s, const QString& shape) {
    if (s.size() < shape.size())
        return false;
    for (int i = 0; i < shape.size(); ++i) {
        const QChar c = s[i];
        const bool fits = shape[i] == QLatin1Char('0')   ? c.isDigit()
                          : shape[i] == QLatin1Char('H') ? c.isDigit() || (c >= 'A' && c <= 'F')
                                                         : c == shape[i];
        if (!fits)
            return false;
    }
    return true;
}

}  // namespace

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
    return s.size() == shape.size() && StartsWithShape(s, shape);
}

bool GivesMacAddress(const QString& command) {
    return command == QLatin1String("write-mac") || command == QLatin1String("telnet-write-mac") ||
           command == QLatin1String("mac-rewrite");
}

QString RecordTimeText(const QDateTime& t) {
    return t.toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODate);
}

QString FileBesideIni(const QString& iniPath, const QString& suffix) {
    const QFileInfo fi(iniPath);
    const QString name = fi.fileName();
    const int dot = static_cast<int>(name.lastIndexOf(QLatin1Char('.')));
    const QString stem = dot > 0 ? name.left(dot) : name;
    return fi.dir().filePath(stem + suffix);
}

QString RecordCsvBesideIni(const QString& iniPath) {
    return FileBesideIni(iniPath, QStringLiteral("-record.csv"));
}

QString FormatRecordLine(const TRecordLine& l, const QString& timeText) {
    QByteArray out;
    AppendRecordFields(&out, l, timeText);
    return QString::fromLatin1(out);
}

void AppendExportLine(QByteArray* out, const TRecordLine& l, const QString& timeText) {
    AppendRecordFields(out, l, timeText);
    out->append(',');
    AppendCsvField(out, l.station);
    for (const char* key : kSentKeys) {
        out->append(',');
        AppendCsvField(out, l.sent.value(QLatin1String(key)));
    }
}

bool ParseRecordLine(const QString& text, TRecordLine* line, QString* timeText) {
    QStringList f;
    constexpr int kSentFrom = 8;  // the first value sent, after the station
    const int withSent = kSentFrom + static_cast<int>(std::size(kSentKeys));
    if (!SplitCsv(text, &f) || (f.size() != 7 && f.size() != kSentFrom && f.size() != withSent))
        return false;
    if (f[5] != QLatin1String("OK") && f[5] != QLatin1String("NG"))
        return false;
    if (!f[3].isEmpty() && !IsMacText(f[3]))
        return false;
    // "YYYY-MM-DDTHH:MM:SS" at the start, tested before the dearer full parse.
    if (!StartsWithShape(f[0], QStringLiteral("0000-00-00T00:00:00")))
        return false;
    const QDateTime t = QDateTime::fromString(f[0], Qt::ISODate);
    if (!t.isValid())
        return false;
    *timeText = f[0];
    *line = {t, f[1], f[2], f[3], f[4], f[5] == QLatin1String("OK"), f[6], f.value(7)};
    for (int i = kSentFrom; i < f.size(); ++i) {
        if (!f[i].isEmpty())
            line->sent[QLatin1String(kSentKeys[i - kSentFrom])] = f[i];
    }
    return true;
}
