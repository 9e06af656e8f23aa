#include "recentfiles.h"

#include "settings.h"

#include <QFileInfo>

namespace framix {

namespace {

QString absolute(const QString& path)
{
    return QFileInfo(path).absoluteFilePath();
}

} // namespace

QStringList RecentFiles::list()
{
    return Settings::recentFiles();
}

void RecentFiles::add(const QString& path)
{
    if (path.isEmpty())
        return;
    const QString entry = absolute(path);
    QStringList paths = Settings::recentFiles();
    paths.removeAll(entry);
    paths.prepend(entry);
    while (paths.size() > Settings::kRecentFiles)
        paths.removeLast();
    Settings::setRecentFiles(paths);
}

void RecentFiles::remove(const QString& path)
{
    QStringList paths = Settings::recentFiles();
    if (paths.removeAll(absolute(path)) > 0)
        Settings::setRecentFiles(paths);
}

} // namespace framix
