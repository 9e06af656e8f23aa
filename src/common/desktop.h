#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>
#include <QtGlobal>

class QWidget;

namespace framix {

// The program's seam to the user and the desktop: file dialogs, message boxes, opening web
// pages and the tick clock all go through this class, so that a test can install a
// subclass that answers dialogs without showing any window and runs its own clock.
class Desktop
{
public:
    enum class Icon
    {
        Information,
        Exclamation,
        Critical
    };

    struct FileRequest
    {
        QWidget* owner = nullptr;
        bool saveMode = false;
        QString title;
        QStringList nameFilters; // Qt form, e.g. "Moving Picture Experts Group (MPEG) (*.mpg)"
        QString initialName;     // may be empty
        QString defaultExt;      // without dot, "" for none
        QString initialDir;      // "" = platform's choice
    };

    Desktop() = default;
    Desktop(const Desktop&) = delete;
    Desktop& operator=(const Desktop&) = delete;
    virtual ~Desktop() = default;

    // Shows a modal file dialog; true and *path set when the user chose a file.
    virtual bool fileDialog(const FileRequest& request, QString* path);
    virtual void message(QWidget* parent, const QString& text, const QString& title, Icon icon);
    // Asks a question that has two answers, on buttons captioned `accept` and `reject`;
    // true for `accept`. Escape and the close box answer `reject`, as does Enter unless the
    // user moved to the other button: a question put before something is destroyed must be
    // answered on purpose.
    virtual bool confirm(QWidget* parent, const QString& text, const QString& title,
                         const QString& accept, const QString& reject);
    // Asks for one line of text in a small modal dialog, starting from *text; true and
    // *text set when the user accepted.
    virtual bool askText(QWidget* owner, const QString& title, const QString& label, QString* text);
    // Opens a URL with the desktop (QDesktopServices); true on success.
    virtual bool openUrl(const QUrl& url);
    // Millisecond tick counter (wraps at 2^32), like a system uptime counter.
    virtual quint32 tickCount();

    // The installed one, or a default real one.
    static Desktop& instance();
    // nullptr restores the default; the object is not owned and must outlive its use.
    static void setInstance(Desktop* p);
};

} // namespace framix
