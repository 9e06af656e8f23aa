#include "recentfilesmenu.h"

#include "desktop.h"
#include "filepaths.h"
#include "recentfiles.h"

#include <QAction>
#include <QFileInfo>
#include <QProxyStyle>
#include <QStyleOptionMenuItem>

namespace framix {

namespace {

// Draws the italic entries (the files that are missing) in the greyed colour of a disabled
// one while leaving them enabled, so they can still be chosen to be taken off the list.
class MissingEntryStyle final : public QProxyStyle
{
public:
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override
    {
        const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
        if (element == CE_MenuItem && item && item->font.italic() &&
            !(item->state & State_Selected)) {
            QStyleOptionMenuItem greyed(*item);
            const QColor grey = item->palette.color(QPalette::Disabled, QPalette::Text);
            for (const QPalette::ColorRole role :
                 {QPalette::Text, QPalette::ButtonText, QPalette::WindowText})
                greyed.palette.setColor(role, grey);
            QProxyStyle::drawControl(element, &greyed, painter, widget);
            return;
        }
        QProxyStyle::drawControl(element, option, painter, widget);
    }
};

} // namespace

RecentFilesMenu::RecentFilesMenu(const QString& title, QWidget* parent,
                                 std::function<void(const QString&)> open)
    : QMenu(title, parent), m_open(std::move(open))
{
    auto* style = new MissingEntryStyle;
    style->setParent(this);
    setStyle(style);
    setToolTipsVisible(true);
    connect(this, &QMenu::aboutToShow, this, &RecentFilesMenu::refresh);
}

void RecentFilesMenu::refresh()
{
    clear();
    const QStringList paths = RecentFiles::list();
    if (paths.isEmpty()) {
        addAction(tr("(No recent files)"))->setEnabled(false);
        return;
    }
    for (qsizetype i = 0; i < paths.size(); ++i) {
        const QString& path = paths.at(i);
        // The number is the entry's key; an '&' in a file name is shown, not taken for one.
        QString name = QFileInfo(shownPath(path)).fileName();
        name.replace(QLatin1Char('&'), QLatin1String("&&"));
        QAction* entry = addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(name));
        const bool missing = !QFileInfo(path).isFile();
        entry->setToolTip(missing ? tr("%1 (not found)").arg(shownPath(path)) : shownPath(path));
        entry->setStatusTip(entry->toolTip());
        if (missing) {
            QFont font = entry->font();
            font.setItalic(true);
            entry->setFont(font);
        }
        connect(entry, &QAction::triggered, this, [this, path] { choose(path); });
    }
}

void RecentFilesMenu::choose(const QString& path)
{
    if (QFileInfo(path).isFile()) {
        m_open(path);
        return;
    }
    RecentFiles::remove(path);
    Desktop::instance().message(
        parentWidget(),
        tr("%1 was not found. It has been removed from the recent files.").arg(shownPath(path)),
        QStringLiteral("Framix"), Desktop::Icon::Exclamation);
}

} // namespace framix
