#include "core/inifile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QStringEncoder>
#include <cerrno>
#include <cstring>

#include "core/exceptions.h"

namespace {

const char* const kEncoding = "Shift_JIS";

QString Decode(const QByteArray& bytes) {
    QStringDecoder dec(kEncoding);
    if (!dec.isValid())
        return QString::fromLocal8Bit(bytes);
    return dec.decode(bytes);
}

QByteArray Encode(const QString& text) {
    QStringEncoder enc(kEncoding);
    if (!enc.isValid())
        return text.toLocal8Bit();
    return enc.encode(text);
}

// Owns one descriptor.
class Fd {
  public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    // Closes now, reporting the result (a delayed write error can show up only here).
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

  private:
    int fd_;
};

// Replaces the file at `path` with `bytes` so that the file is, at every moment, either the
// old one whole or the new one whole. Returns an error text, empty on success.
QString WriteWholeFile(const QString& path, const QByteArray& bytes) {
    // Write through a symbolic link to its target, so that the link stays a link.
    const QFileInfo info(path);
    const QString target = info.isSymLink() ? info.symLinkTarget() : path;
    const QByteArray finalName = QFile::encodeName(target);
    QByteArray tempName = finalName + ".XXXXXX";

    // The temporary file lies in the same folder, so that the rename below cannot cross file
    // systems and is atomic.
    Fd fd(::mkstemp(tempName.data()));
    if (fd.get() < 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    auto fail = [&](int err) {
        ::unlink(tempName.constData());
        return QString::fromLocal8Bit(std::strerror(err));
    };
    // Keep the old file's permissions; a new file gets the usual ones.
    struct stat st {};
    mode_t mode = 0;
    if (::stat(finalName.constData(), &st) == 0) {
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    if (::fchmod(fd.get(), mode) != 0)
        return fail(errno);
    // Every byte must reach the file: a short write (a full disk) is a failure, never a
    // truncated settings file.
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            ::write(fd.get(), bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return fail(n < 0 ? errno : ENOSPC);
        done += n;
    }
    // On disk before the rename, so that a crash cannot leave an empty file behind it.
    if (::fsync(fd.get()) != 0)
        return fail(errno);
    if (!fd.Close())
        return fail(errno);
    if (::rename(tempName.constData(), finalName.constData()) != 0)
        return fail(errno);
    return QString();
}

}  // namespace

TIniFile::TIniFile(const QString& path) : path_(path) {
    QFile f(path);
    if (f.open(QIODevice::ReadOnly))
        Parse(Decode(f.readAll()));
}

void TIniFile::Parse(const QString& text) {
    Section* current = nullptr;
    const QStringList raw = text.split(QLatin1Char('\n'));
    for (const QString& r : raw) {
        const QString line = r.trimmed();  // also drops the CR of a CR LF ending
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            const QString name = line.mid(1, line.size() - 2).trimmed();
            // A repeated section continues the first one, so that nothing of it is lost.
            current = FindSection(name);
            if (!current) {
                sections_.push_back(Section{name, {}});
                current = &sections_.back();
            }
            continue;
        }
        if (!current)
            continue;  // before the first section
        const int eq = static_cast<int>(line.indexOf(QLatin1Char('=')));
        if (eq < 0) {
            current->lines.push_back(Line{QString(), line});
        } else {
            QString key = line.left(eq).trimmed();
            if (key.isEmpty()) {
                current->lines.push_back(Line{QString(), line});
            } else {
                current->lines.push_back(Line{key, line.mid(eq + 1).trimmed()});
            }
        }
    }
}

TIniFile::Section* TIniFile::FindSection(const QString& name) {
    for (Section& s : sections_)
        if (s.name.compare(name, Qt::CaseInsensitive) == 0)
            return &s;
    return nullptr;
}

const TIniFile::Section* TIniFile::FindSection(const QString& name) const {
    for (const Section& s : sections_)
        if (s.name.compare(name, Qt::CaseInsensitive) == 0)
            return &s;
    return nullptr;
}

bool TIniFile::SectionExists(const QString& section) const {
    return FindSection(section);
}

QString TIniFile::ReadString(const QString& section, const QString& key, const QString& def) const {
    const Section* s = FindSection(section);
    if (!s)
        return def;
    for (const Line& l : s->lines)
        if (!l.key.isEmpty() && l.key.compare(key, Qt::CaseInsensitive) == 0)
            return l.text;
    return def;
}

bool TIniFile::ParseInteger(const QString& value, int* out) {
    if (value.size() > 2 && value[0] == QLatin1Char('0') &&
        (value[1] == QLatin1Char('x') || value[1] == QLatin1Char('X'))) {
        const QString digits = value.mid(2);
        if (digits.size() > 8)
            return false;
        uint32_t v = 0;
        for (QChar c : digits) {
            int d;
            if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
                d = c.unicode() - '0';
            else if (c >= QLatin1Char('a') && c <= QLatin1Char('f'))
                d = c.unicode() - 'a' + 10;
            else if (c >= QLatin1Char('A') && c <= QLatin1Char('F'))
                d = c.unicode() - 'A' + 10;
            else
                return false;
            v = v * 16u + static_cast<uint32_t>(d);
        }
        *out = static_cast<int>(v);  // eight digits are the 32-bit pattern, as written
        return true;
    }
    return TryStrToInt(value, out);
}

int TIniFile::ReadInteger(const QString& section, const QString& key, int def) const {
    const QString v = ReadString(section, key, QString());
    int out = 0;
    if (v.isEmpty() || !ParseInteger(v, &out))
        return def;
    return out;
}

void TIniFile::WriteString(const QString& section, const QString& key, const QString& value) {
    Section* s = FindSection(section);
    if (!s) {
        sections_.push_back(Section{section, {}});
        s = &sections_.back();
    }
    for (Line& l : s->lines) {
        if (!l.key.isEmpty() && l.key.compare(key, Qt::CaseInsensitive) == 0) {
            l.key = key;
            l.text = value;
            return;
        }
    }
    s->lines.push_back(Line{key, value});
}

void TIniFile::WriteInteger(const QString& section, const QString& key, int value) {
    WriteString(section, key, QString::number(value));
}

QString TIniFile::Text() const {
    QString out;
    const QLatin1String crlf("\r\n");
    for (const Section& s : sections_) {
        out += QLatin1Char('[') + s.name + QLatin1Char(']') + crlf;
        for (const Line& l : s.lines) {
            if (l.key.isEmpty())
                out += l.text + crlf;
            else
                out += l.key + QLatin1Char('=') + l.text + crlf;
        }
        out += crlf;
    }
    return out;
}

void TIniFile::UpdateFile() const {
    const QString error = WriteWholeFile(path_, Encode(Text()));
    if (!error.isEmpty())
        throw EFCreateError(QStringLiteral("Cannot create file \"%1\". %2").arg(path_, error));
}

QString IniPathForExecutable(const QString& exePath) {
    int nameStart = 0;
    for (int i = 0; i < exePath.size(); ++i)
        if (exePath[i] == QLatin1Char('/') || exePath[i] == QLatin1Char('\\'))
            nameStart = i + 1;
    const int dot = static_cast<int>(exePath.lastIndexOf(QLatin1Char('.')));
    // A dot that starts the file name (a hidden file) is not an extension.
    if (dot > nameStart)
        return exePath.left(dot + 1) + QStringLiteral("ini");
    return exePath + QStringLiteral(".ini");
}
