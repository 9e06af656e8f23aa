#pragma once

#include <QString>
#include <QStringList>

namespace framix {

// The media files opened last, kept in the settings: most recent first, each file once, at
// most Settings::kRecentFiles of them. Paths are absolute, so a file opened by a relative
// name from the command line is found again from anywhere. UI thread only.
class RecentFiles
{
public:
    static QStringList list();
    // Puts `path` first, dropping an older entry for the same file and the oldest beyond the
    // limit.
    static void add(const QString& path);
    static void remove(const QString& path);
};

} // namespace framix
