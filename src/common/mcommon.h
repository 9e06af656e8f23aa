#pragma once

#include <QString>
#include <QStringList>

class QLabel;
class QSlider;
class QWidget;

// Routines shared by every window: the file dialog and path helpers. Paths use "/" as the
// only separator.
namespace framix {

// Longest initial file name the file dialog accepts.
inline constexpr int kMaxFileDialogName = 260;

// Shows the open (saveMode false) or save dialog and returns the chosen path, or "" when the
// user cancelled. `filter` is in bar notation: "description|patterns|" repeated, patterns
// separated by ";" (see qtNameFilters). The owner is disabled while the dialog is up.
QString FileDialog(QWidget* owner, bool saveMode, const QString& title, const QString& filter,
                   const QString& initialName, const QString& defaultExt,
                   const QString& initialDir);

// Translates a bar-notation filter ("Bitmap Files (*.bmp)|*.bmp|") into the name filters
// QFileDialog takes ("Bitmap Files (*.bmp)").
QStringList qtNameFilters(const QString& barFilter);

// True only for an existing file that is not a directory.
bool FileExists(const QString& path);

// True when the path, taken with a final "/", names an existing directory.
bool DirExists(const QString& path);

// The folder part of the path including its final "/" (wantFolder), or the part after the
// last "/".
QString SplitPath(const QString& path, bool wantFolder);

// Appends "/" unless the path is empty or already ends with one.
void AddBackslash(QString& path);

// Creates every missing directory of the path, parents first. On failure a message box names
// the directory (and the system's reason when there is one) and false is returned; levels
// created before the failure are kept.
bool CreatePath(const QString& path);

// A path typed the way a shell takes it: a leading "~" is the user's home folder.
QString ExpandHome(const QString& path);

// Tells the user in a status label why an action failed, where the action itself reports
// nothing: a short text in the label, the whole reason in its tooltip (and the log).
// The label's next update replaces it.
void ShowFailure(QLabel* label, const QString& what, const QString& why);

// A time from the start as the main window shows it: "m:ss.mmm", or "h:mm:ss.mmm" from an
// hour on.
QString TimeText(qint64 ms);

// Sets a label's text in the largest size of its window's font (down to 6 points) at which
// the whole text fits the label's width, so a long time or frame count is never cut.
void SetFittedText(QLabel* label, const QString& text);

// A click on the slider's groove puts the thumb there (as a middle click does) rather than
// moving it a page towards the click.
void JumpToClicks(QSlider* slider);

} // namespace framix
