#include "atomicfile.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace framix {

namespace {

EngineError::Code codeFor(int err)
{
    switch (err) {
    case ENOENT:
        return EngineError::Code::NotFound;
    case EACCES:
    case EPERM:
    case EROFS:
        return EngineError::Code::PermissionDenied;
    case EISDIR:
        return EngineError::Code::IsDirectory;
    default:
        return EngineError::Code::IoError;
    }
}

bool failErrno(EngineError* error, int err, const QString& path)
{
    return fail(error, codeFor(err),
                path + QStringLiteral(": ") + QString::fromLocal8Bit(strerror(err)));
}

} // namespace

bool writeFileAtomically(const QString& path, const QByteArray& bytes, EngineError* error)
{
    return writeFileAtomically(path, bytes.constData(), bytes.size(), error);
}

bool writeFileAtomically(const QString& path, const char* data, qint64 size, EngineError* error)
{
    const QFileInfo target(path);
    if (target.isDir())
        return failErrno(error, EISDIR, path);
    const QString tmpl = target.absolutePath() + QStringLiteral("/.") + target.fileName() +
                         QStringLiteral(".XXXXXX");
    QByteArray tmpName = QFile::encodeName(tmpl);
    const int fd = mkstemp(tmpName.data());
    if (fd < 0)
        return failErrno(error, errno, path);
    // mkstemp makes the file private; a saved picture should get the usual permissions.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);

    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size_t(size - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int err = n < 0 ? errno : ENOSPC;
            ::close(fd);
            ::unlink(tmpName.constData());
            return failErrno(error, err, path);
        }
        done += n;
    }
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(tmpName.constData());
        return failErrno(error, err, path);
    }
    if (::rename(tmpName.constData(), QFile::encodeName(path).constData()) != 0) {
        const int err = errno;
        ::unlink(tmpName.constData());
        return failErrno(error, err, path);
    }
    return true;
}

} // namespace framix
