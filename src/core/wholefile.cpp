#include "core/wholefile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdlib>

#include "core/posixio.h"

QString ReplaceFileWhole(const QString& path, const QByteArray& bytes) {
    // Write through a symbolic link to its target, so that the link stays a link.
    const QFileInfo info(path);
    const QString target = info.isSymLink() ? info.symLinkTarget() : path;
    const QByteArray finalName = QFile::encodeName(target);
    QByteArray tempName = finalName + ".XXXXXX";

    // The rename below needs only the folder's permission; a file this user may not write is
    // not replaced behind the user's back.
    struct stat st {};
    const bool exists = ::stat(finalName.constData(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode))
        return ErrnoText(EISDIR);
    if (exists && ::faccessat(AT_FDCWD, finalName.constData(), W_OK, AT_EACCESS) != 0)
        return ErrnoText(errno);

    // The temporary file lies in the same folder, so that the rename below cannot cross file
    // systems and is atomic.
    TUniqueFd fd(::mkstemp(tempName.data()));
    if (fd.Get() < 0) {
        const int err = errno;
        return QStringLiteral("フォルダ \"%1\" に一時ファイルを作れません。\n%2")
            .arg(QFileInfo(QFile::decodeName(finalName)).absolutePath(), ErrnoText(err));
    }
    auto fail = [&](int err) {
        ::unlink(tempName.constData());
        return ErrnoText(err);
    };
    // Keep the old file's owner, group and permissions as far as this user may; a new file
    // gets the usual ones.
    mode_t mode = 0;
    if (exists) {
        mode = st.st_mode & 07777;
        // Each may fail for an ordinary user (another owner, a group the user is not in); the
        // file then belongs to the user, as any file the user creates.
        if (::fchown(fd.Get(), static_cast<uid_t>(-1), st.st_gid) != 0) {
        }
        if (::fchown(fd.Get(), st.st_uid, static_cast<gid_t>(-1)) != 0) {
        }
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    if (::fchmod(fd.Get(), mode) != 0)
        return fail(errno);
    // Every byte must reach the file: a short write (a full disk) is a failure, never a
    // truncated settings file.
    if (!WriteAll(fd.Get(), bytes.constData(), static_cast<size_t>(bytes.size())))
        return fail(errno);
    // On disk before the rename, so that a crash cannot leave an empty file behind it.
    if (::fsync(fd.Get()) != 0)
        return fail(errno);
    if (!fd.Close())
        return fail(errno);
    if (::rename(tempName.constData(), finalName.constData()) != 0)
        return fail(errno);
    return QString();
}
