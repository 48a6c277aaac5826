#include "core/inifile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cctype>
#include <cerrno>

#include "core/exceptions.h"
#include "core/posixio.h"
#include "core/text.h"
#include "core/wholefile.h"

namespace {

// Reads the whole file at `path` into `bytes`. Returns false with `error` empty when the file
// does not exist, false with `error` set when it exists but cannot be read.
bool ReadWholeFile(const QString& path, QByteArray* bytes, QString* error) {
    // Non-blocking, so that a FIFO at the path cannot stall the program.
    TUniqueFd fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.Get() < 0) {
        if (errno != ENOENT && errno != ENOTDIR)
            *error = ErrnoText(errno);
        return false;
    }
    auto fail = [error](const QString& why) {
        *error = why;
        return false;
    };
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0)
        return fail(ErrnoText(errno));
    if (S_ISDIR(st.st_mode))
        return fail(ErrnoText(EISDIR));
    if (!S_ISREG(st.st_mode))
        return fail(QStringLiteral("通常のファイルではありません。"));
    if (st.st_size > TIniFile::kMaxFileSize)
        return fail(ErrnoText(EFBIG));
    bytes->clear();
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd.Get(), buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return fail(ErrnoText(errno));
        if (n == 0)
            return true;
        if (bytes->size() + n > TIniFile::kMaxFileSize)
            return fail(ErrnoText(EFBIG));
        bytes->append(buf, n);
    }
}

// A value of more than two characters beginning "0x" or "0X" is hexadecimal (up to eight digits,
// taken as the 32-bit pattern written); any other goes through the decimal conversion.
bool ParseInteger(const QString& value, int* out) {
    if (value.size() > 2 && value[0] == QLatin1Char('0') &&
        (value[1] == QLatin1Char('x') || value[1] == QLatin1Char('X'))) {
        const QStringView digits = QStringView(value).mid(2);
        const auto hex = [](QChar c) { return c.unicode() < 128 && std::isxdigit(c.unicode()); };
        if (digits.size() > 8 || !std::all_of(digits.begin(), digits.end(), hex))
            return false;
        *out = static_cast<int>(digits.toUInt(nullptr, 16));
        return true;
    }
    return TryStrToInt(value, out);
}

}  // namespace

TIniFile::TIniFile(const QString& path) : path_(path) {
    QByteArray bytes;
    if (ReadWholeFile(path, &bytes, &readError_))
        Parse(bytes);
}

void TIniFile::Parse(const QByteArray& bytes) {
    Section* current = nullptr;
    const qsizetype n = bytes.size();
    qsizetype pos = bytes.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    // Line ends since the last line kept: the file's ending once the last is read.
    int lineEndsSinceKept = 0;
    while (pos < n) {
        // A line ends at CR LF, LF or CR.
        qsizetype end = pos;
        while (end < n && bytes[end] != '\r' && bytes[end] != '\n')
            ++end;
        const QByteArray raw = bytes.mid(pos, end - pos).trimmed();
        pos = end + 1;
        if (end < n && bytes[end] == '\r' && pos < n && bytes[pos] == '\n')
            ++pos;
        lineEndsSinceKept += end < n ? 1 : 0;

        const QString line = DecodeShiftJis(raw).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            const QString name = line.mid(1, line.size() - 2).trimmed();
            // A repeated section continues the first one, so that nothing of it is lost.
            current = FindSection(name);
            if (!current) {
                sections_.push_back(Section{name, raw, {}});
                current = &sections_.back();
            }
            lineEndsSinceKept = end < n ? 1 : 0;
            continue;
        }
        if (!current)
            continue;  // before the first section
        // "=" is never part of a two-byte Shift-JIS character, so the split is safe in bytes.
        const qsizetype eq = raw.indexOf('=');
        const QString key = eq < 0 ? QString() : DecodeShiftJis(raw.left(eq)).trimmed();
        const QString value = key.isEmpty() ? QString() : DecodeShiftJis(raw.mid(eq + 1)).trimmed();
        current->lines.push_back(Line{key, value, raw});
        lineEndsSinceKept = end < n ? 1 : 0;
    }
    if (!sections_.empty())
        endingLineEnds_ = std::min(lineEndsSinceKept, 2);
}

TIniFile::Section* TIniFile::FindSection(const QString& name) {
    return const_cast<Section*>(std::as_const(*this).FindSection(name));
}

const TIniFile::Section* TIniFile::FindSection(const QString& name) const {
    for (const Section& s : sections_)
        if (s.name.compare(name, Qt::CaseInsensitive) == 0)
            return &s;
    return nullptr;
}

QString TIniFile::ReadString(const QString& section, const QString& key, const QString& def) const {
    const Section* s = FindSection(section);
    if (!s)
        return def;
    for (const Line& l : s->lines)
        if (!l.key.isEmpty() && l.key.compare(key, Qt::CaseInsensitive) == 0)
            return l.value;
    return def;
}

int TIniFile::ReadInteger(const QString& section, const QString& key, int def) const {
    const QString v = ReadString(section, key, QString());
    int out = 0;
    if (v.isEmpty() || !ParseInteger(v, &out))
        return def;
    return out;
}

bool TIniFile::HoldsNonInteger(const QString& section, const QString& key) const {
    const QString absent = QStringLiteral("\n");  // no value read from a file holds a line end
    const QString v = ReadString(section, key, absent);
    int out = 0;
    return v != absent && (v.isEmpty() || !ParseInteger(v, &out));
}

void TIniFile::WriteString(const QString& section, const QString& key, const QString& value) {
    Section* s = FindSection(section);
    if (!s) {
        sections_.push_back(Section{section, QByteArray(), {}});
        s = &sections_.back();
    }
    for (Line& l : s->lines) {
        if (!l.key.isEmpty() && l.key.compare(key, Qt::CaseInsensitive) == 0) {
            if (l.key == key && l.value == value)
                return;  // unchanged: the line keeps its bytes
            l.key = key;
            l.value = value;
            l.raw.clear();
            return;
        }
    }
    s->lines.push_back(Line{key, value, QByteArray()});
}

void TIniFile::WriteInteger(const QString& section, const QString& key, int value) {
    WriteString(section, key, QString::number(value));
}

QByteArray TIniFile::Bytes() const {
    QByteArray out;
    const char* const crlf = "\r\n";
    for (const Section& s : sections_) {
        if (!out.isEmpty())
            out += QByteArray(crlf) + crlf;  // the line end of the last line, an empty line
        out += s.rawHeader.isEmpty() ? EncodeShiftJis(QLatin1Char('[') + s.name + QLatin1Char(']'))
                                     : s.rawHeader;
        for (const Line& l : s.lines) {
            out += crlf;
            out += l.raw.isEmpty() ? EncodeShiftJis(l.key + QLatin1Char('=') + l.value) : l.raw;
        }
    }
    // A file that did not end with a line end, or with no empty line, still does not.
    for (int i = 0; i < endingLineEnds_ && !out.isEmpty(); ++i)
        out += crlf;
    return out;
}

void TIniFile::UpdateFile() const {
    // A file that exists but could not be read was taken as empty: writing it would replace
    // everything in it.
    const QString error =
        readError_.isEmpty()
            ? ReplaceFileWhole(path_, Bytes())
            : QStringLiteral("読み込めなかったため、そのままにします。\n%1").arg(readError_);
    if (!error.isEmpty())
        throw EFCreateError(
            QStringLiteral("設定ファイル \"%1\" に書き込めません。\n%2").arg(path_, error));
}

void RemoveStaleTemporaries(const QString& path) {
    const QFileInfo info(path);
    const QFileInfo target(info.isSymLink() ? info.symLinkTarget() : path);
    const QDir dir = target.absoluteDir();
    const QString stem = target.fileName() + QLatin1Char('.');
    const QDateTime before = QDateTime::currentDateTime().addSecs(-60);
    // mkstemp's names: the stem and six letters or digits. The names are compared as they are
    // (a wildcard filter would compile a pattern at every start).
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden)) {
        if (name.size() != stem.size() + 6 || !name.startsWith(stem))
            continue;
        const bool temporary = std::all_of(name.begin() + stem.size(), name.end(), [](QChar c) {
            return c.unicode() < 128 && std::isalnum(c.unicode());
        });
        const QFileInfo f(dir.filePath(name));
        if (temporary && f.lastModified() < before)
            QFile::remove(f.filePath());
    }
}

QString IniPathForExecutable(const QString& exePath) {
    const qsizetype nameStart =
        std::max(exePath.lastIndexOf(QLatin1Char('/')), exePath.lastIndexOf(QLatin1Char('\\'))) + 1;
    const qsizetype dot = exePath.lastIndexOf(QLatin1Char('.'));
    // A dot that starts the file name (a hidden file) is not an extension.
    if (dot > nameStart)
        return exePath.left(dot + 1) + QStringLiteral("ini");
    return exePath + QStringLiteral(".ini");
}
