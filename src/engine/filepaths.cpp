#include "filepaths.h"

#include <QFile>
#include <QFileInfo>

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

QString shownPath(const QString& path)
{
    if (!path.startsWith(kDescriptors))
        return path;
    const QString target = QFileInfo(path).symLinkTarget();
    return target.isEmpty() ? path : target;
}

} // namespace framix
