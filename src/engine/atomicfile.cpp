#include "atomicfile.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <climits>
#include <sys/uio.h>

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

constexpr char kTemporaryPattern[] = ".framix-XXXXXX.part";
constexpr int kTemporarySuffixLength = 5; // ".part"

} // namespace

int removeStaleTemporaries(const QString& dir)
{
    const QRegularExpression ours(QStringLiteral("^\\.framix-[A-Za-z0-9]{6}\\.part$"));
    const QDateTime before = QDateTime::currentDateTime().addSecs(-3600);
    int removed = 0;
    const QFileInfoList entries =
        QDir(dir).entryInfoList(QDir::Files | QDir::Hidden | QDir::NoSymLinks | QDir::System);
    for (const QFileInfo& fi : entries) {
        if (!ours.match(fi.fileName()).hasMatch() || !fi.isFile() || fi.lastModified() > before)
            continue;
        if (::unlink(QFile::encodeName(fi.absoluteFilePath()).constData()) == 0)
            ++removed;
    }
    return removed;
}

bool writeFileAtomically(const QString& path, const QByteArray& bytes, EngineError* error)
{
    return writeFileAtomically(path, bytes.constData(), bytes.size(), error);
}

bool writeFileAtomically(const QString& path, const char* data, qint64 size, EngineError* error)
{
    return writeFileAtomically(path, std::vector<ByteSpan>{{data, size}}, error);
}

bool writeFileAtomically(const QString& path, const std::vector<ByteSpan>& pieces,
                         EngineError* error)
{
    const QFileInfo target(path);
    if (target.isDir())
        return failErrno(error, EISDIR, path);
    // Not named after the final file: a name near the file system's limit would leave no
    // room for a longer temporary one.
    QByteArray tmpName =
        QFile::encodeName(target.absolutePath() + QLatin1Char('/')) + kTemporaryPattern;
    const int fd = mkstemps(tmpName.data(), kTemporarySuffixLength);
    if (fd < 0)
        return failErrno(error, errno, path);
    // mkstemp makes the file private; a saved picture should get the usual permissions.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);

    // Written with as few calls as the system allows (a bitmap's rows are one piece each).
    std::vector<iovec> rest;
    rest.reserve(pieces.size());
    for (const ByteSpan& p : pieces)
        if (p.size > 0)
            rest.push_back({const_cast<char*>(p.data), size_t(p.size)});
    size_t first = 0;
    while (first < rest.size()) {
        const int count = int(std::min<size_t>(rest.size() - first, IOV_MAX));
        const ssize_t n = ::writev(fd, rest.data() + first, count);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int err = n < 0 ? errno : ENOSPC;
            ::close(fd);
            ::unlink(tmpName.constData());
            return failErrno(error, err, path);
        }
        // Skip what was written, which may end in the middle of a piece.
        size_t left = size_t(n);
        while (first < rest.size() && left >= rest[first].iov_len)
            left -= rest[first++].iov_len;
        if (left > 0) {
            rest[first].iov_base = static_cast<char*>(rest[first].iov_base) + left;
            rest[first].iov_len -= left;
        }
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
