#include "filepaths.h"

#include <QFile>
#include <QFileInfo>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace framix {

namespace {
const QString kDescriptors = QStringLiteral("/proc/self/fd/");
}

QString pathFromBytes(const QByteArray& bytes)
{
    const QString text = QFile::decodeName(bytes);
    if (QFile::encodeName(text) == bytes)
        return text;
    // Not blocking: a pipe waits for a writer when opened; what is opened is read later.
    const int fd = ::open(bytes.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return text; // what there is to say about it, the open that follows says
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return kDescriptors + QString::number(fd);
}

QString pathFromShown(const QString& path)
{
    if (!path.contains(QChar(0xfffd)) || QFileInfo::exists(path))
        return path;
    const QFileInfo fi(path);
    const QByteArray dir = QFile::encodeName(fi.absolutePath());
    DIR* listing = ::opendir(dir.constData());
    if (!listing)
        return path;
    QByteArray found;
    int matches = 0;
    while (const dirent* entry = ::readdir(listing)) {
        if (QFile::decodeName(entry->d_name) == fi.fileName()) {
            found = entry->d_name;
            ++matches;
        }
    }
    ::closedir(listing);
    // Two names that read alike cannot be told apart: neither is guessed at.
    return matches == 1 ? pathFromBytes(dir + '/' + found) : path;
}

QString shownPath(const QString& path)
{
    if (!path.startsWith(kDescriptors))
        return path;
    const QString target = QFileInfo(path).symLinkTarget();
    return target.isEmpty() ? path : target;
}

} // namespace framix
