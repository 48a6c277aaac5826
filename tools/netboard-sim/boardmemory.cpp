#include "boardmemory.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QFile>
#include <QFileInfo>
#include <cerrno>

#include "core/posixio.h"

namespace {

const QByteArray kStateHeader = "netboard-sim board state 1";
const QByteArray kStateEnd = "end";
// The board cuts every line at 4 KiB, so a file of its settings stays far below this; a larger
// file is not one the board wrote, and is not read further.
constexpr qint64 kMaxStateBytes = 1 << 20;

QByteArray EncodeStateValue(const QByteArray& value) {
    QByteArray out;
    for (const char c : value) {
        const auto u = static_cast<unsigned char>(c);
        if (u > ' ' && u < 0x7f && c != '%')
            out.append(c);
        else
            out.append('%').append(QByteArray(1, c).toHex().toUpper());
    }
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// False when `text` holds a byte the encoding never writes, or a '%' without two hex digits.
bool DecodeStateValue(const QByteArray& text, QByteArray* value) {
    for (int i = 0; i < text.size(); ++i) {
        const auto u = static_cast<unsigned char>(text[i]);
        if (u <= ' ' || u >= 0x7f)
            return false;
        if (text[i] != '%') {
            value->append(text[i]);
            continue;
        }
        const int high = i + 1 < text.size() ? HexDigit(text[i + 1]) : -1;
        const int low = i + 2 < text.size() ? HexDigit(text[i + 2]) : -1;
        if (high < 0 || low < 0)
            return false;
        value->append(static_cast<char>(high * 16 + low));
        i += 2;
    }
    return true;
}

BoardStateRead Damaged(const QString& why) {
    BoardStateRead r;
    r.result = BoardStateRead::Damaged;
    r.why = why;
    return r;
}

// The file's bytes, at most kMaxStateBytes + 1 of them; false with `why` when it cannot be read.
bool ReadBounded(int fd, QByteArray* bytes, QString* why) {
    char buf[4096];
    while (bytes->size() <= kMaxStateBytes) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            *why = ErrnoText(errno);
            return false;
        }
        if (n == 0)
            break;
        bytes->append(buf, static_cast<int>(n));
    }
    return true;
}

BoardStateRead ParseState(const QByteArray& bytes, const QList<QByteArray>& keys) {
    if (bytes.size() > kMaxStateBytes)
        return Damaged(QStringLiteral("larger than %1 bytes").arg(kMaxStateBytes));
    const QList<QByteArray> lines = bytes.split('\n');
    if (lines.first() != kStateHeader)
        return Damaged(QStringLiteral("no header line"));
    // A file cut anywhere lacks its end line, or the line feed after it.
    if (lines.size() < 3 || lines.last() != "")
        return Damaged(QStringLiteral("cut short: no end line"));
    BoardStateRead r;
    for (int i = 1; i < lines.size() - 2; ++i) {
        const int eq = lines[i].indexOf('=');
        const QByteArray key = lines[i].left(eq);
        if (eq <= 0 || !keys.contains(key))
            return Damaged(QStringLiteral("line %1 is no setting").arg(i + 1));
        if (r.values.contains(key))
            return Damaged(QStringLiteral("%1 twice").arg(QString::fromLatin1(key)));
        if (!DecodeStateValue(lines[i].mid(eq + 1), &r.values[key]))
            return Damaged(
                QStringLiteral("the value of %1 is garbled").arg(QString::fromLatin1(key)));
    }
    for (const QByteArray& key : keys)
        if (!r.values.contains(key))
            return Damaged(QStringLiteral("%1 missing").arg(QString::fromLatin1(key)));
    r.result = BoardStateRead::Loaded;
    return r;
}

}  // namespace

BoardStateRead ReadBoardState(const QString& path, const QList<QByteArray>& keys) {
    // Non-blocking, so that a FIFO put in the file's place cannot hold the board up.
    TUniqueFd fd(
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd.Valid())
        return errno == ENOENT ? BoardStateRead{} : Damaged(ErrnoText(errno));
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0)
        return Damaged(ErrnoText(errno));
    if (!S_ISREG(st.st_mode))
        return Damaged(QStringLiteral("not a regular file"));
    QByteArray bytes;
    QString why;
    if (!ReadBounded(fd.Get(), &bytes, &why))
        return Damaged(why);
    return ParseState(bytes, keys);
}

QString WriteBoardState(const QString& path, const BoardSettings& values) {
    QByteArray text = kStateHeader + '\n';
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        text += it.key() + '=' + EncodeStateValue(it.value()) + '\n';
    text += kStateEnd + '\n';

    const QByteArray target = QFile::encodeName(path);
    // One temporary name per process: two simulators given one file never write into one
    // temporary file.
    const QByteArray temp = target + ".tmp-" + QByteArray::number(::getpid());
    TUniqueFd fd(
        ::open(temp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644));
    if (!fd.Valid())
        return QStringLiteral("cannot create %1: %2")
            .arg(QFile::decodeName(temp), ErrnoText(errno));
    // The data reaches the disk before the rename makes it the file.
    if (!WriteAll(fd.Get(), text.constData(), static_cast<size_t>(text.size())) ||
        ::fsync(fd.Get()) != 0 || !fd.Close() ||
        ::rename(temp.constData(), target.constData()) != 0) {
        const int err = errno;
        ::unlink(temp.constData());
        return QStringLiteral("cannot write %1: %2").arg(path, ErrnoText(err));
    }
    // The rename outlives a power cut once the folder is synced. A file system that cannot sync
    // a folder has the new file in place all the same, so a failure here is not reported.
    TUniqueFd dir(::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(),
                         O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Valid())
        ::fsync(dir.Get());
    return {};
}
