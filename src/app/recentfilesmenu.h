#pragma once

#include <QMenu>

#include <functional>

namespace framix {

// File > Recent Files: the media files opened last (RecentFiles), most recent first, each
// shown by its file name with the full path as its tooltip and status tip. The list is
// read afresh every time the menu opens. A file that is not there any more is shown greyed
// and in italics, yet it can still be chosen: choosing it says it was not found and takes it
// off the list. Choosing one that is there hands its path to `open`. UI thread only.
class RecentFilesMenu : public QMenu
{
    Q_OBJECT
public:
    RecentFilesMenu(const QString& title, QWidget* parent,
                    std::function<void(const QString&)> open);

    void refresh();

private:
    void choose(const QString& path);

    std::function<void(const QString&)> m_open;
};

} // namespace framix
