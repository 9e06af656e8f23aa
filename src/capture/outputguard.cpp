#include "outputguard.h"

#include "framenamer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace framix {

namespace {

bool statOf(const QString& path, struct stat* st)
{
    return ::stat(QFile::encodeName(path).constData(), st) == 0;
}

bool sameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

QString folderOf(const QString& path)
{
    const QFileInfo fi(path);
    const QString canonical = QFileInfo(fi.absolutePath()).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(fi.absolutePath()) : canonical;
}

// Where `path` will lead once the folders it names that are not there yet have been made:
// its longest part that exists, resolved as the system resolves it, then the rest, where a
// ".." undoes a folder still to be made ("new/../video.mpg" is "video.mpg").
QString pathOnceMade(const QString& path)
{
    const QStringList parts =
        QFileInfo(path).absoluteFilePath().split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (qsizetype i = parts.size(); i > 0; --i) {
        const QString head = QLatin1Char('/') + parts.mid(0, i).join(QLatin1Char('/'));
        if (QFileInfo::exists(head)) {
            const QString real = QFileInfo(head).canonicalFilePath();
            return QDir::cleanPath(real + QLatin1Char('/') + parts.mid(i).join(QLatin1Char('/')));
        }
    }
    return QDir::cleanPath(QLatin1Char('/') + parts.join(QLatin1Char('/')));
}

} // namespace

QString outputHazard(const QString& path, const QString& input)
{
    struct stat out = {}, in = {};
    // A path through a folder the run will make can still lead to something there now.
    if (!statOf(path, &out) && !statOf(pathOnceMade(path), &out))
        return {}; // nothing there yet (or a dangling link, which a rename replaces)
    if (statOf(input, &in) && sameFile(out, in))
        return QStringLiteral("%1 is the video being read").arg(path);
    if (S_ISDIR(out.st_mode))
        return QStringLiteral("%1 is a folder").arg(path);
    if (!S_ISREG(out.st_mode))
        return QStringLiteral("%1 is not a regular file (a device, a pipe or a socket)").arg(path);
    return {};
}

bool isPictureName(const QString& path, const QString& dir, const FrameNamer& namer,
                   const QString& extension, const QString& videoName)
{
    const QString outDir = QFileInfo(dir).exists()
                               ? QFileInfo(dir).canonicalFilePath()
                               : QDir::cleanPath(QFileInfo(dir).absoluteFilePath());
    return folderOf(path) == outDir &&
           namer.matches(QFileInfo(path).fileName(), videoName, extension);
}

QString picturesHazard(const QString& dir, const FrameNamer& namer, const QString& extension,
                       const QString& input)
{
    if (isPictureName(input, dir, namer, extension, QFileInfo(input).completeBaseName()))
        return QStringLiteral("%1 is the video being read, and a picture would be written under "
                              "its name")
            .arg(input);
    return {};
}

} // namespace framix
