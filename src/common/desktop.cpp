#include "desktop.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>

#include <chrono>
#include <optional>

namespace framix {

namespace {

Desktop* g_installed = nullptr;

// "png" for a filter whose first pattern is "*.png"; nullopt for one that does not name
// a single extension ("*.*", "*").
std::optional<QString> suffixOf(const QString& nameFilter)
{
    static const QRegularExpression firstPattern(QStringLiteral("\\*\\.([A-Za-z0-9]+)\\b"));
    const QRegularExpressionMatch match = firstPattern.match(nameFilter);
    if (!match.hasMatch())
        return std::nullopt;
    return match.captured(1);
}

// In open mode the user may type the name of a file that does not exist yet; the dialog then
// asks whether that file is wanted anyway. Answering No keeps the dialog open so another name
// can be chosen. The file itself is not created here: the caller decides what to do with it.
// In save mode a name typed without an extension gets the one of the type chosen in the list.
class OpenOrCreateDialog : public QFileDialog
{
public:
    using QFileDialog::QFileDialog;

    QString defaultExt;

    // The whole filter chosen in the type list: with the patterns out of sight, Qt's
    // selectedNameFilter() gives only what the list shows.
    QString chosenFilter() const
    {
        if (const auto* types = findChild<QComboBox*>(QStringLiteral("fileTypeCombo"))) {
            const QStringList all = nameFilters();
            if (types->currentIndex() >= 0 && types->currentIndex() < all.size())
                return all.at(types->currentIndex());
        }
        return selectedNameFilter();
    }

    void accept() override
    {
        if (acceptMode() == QFileDialog::AcceptSave) {
            // A name typed without an extension gets the one of the type chosen in the
            // filter list; a typed extension is kept as it is.
            setDefaultSuffix(suffixOf(chosenFilter()).value_or(defaultExt));
        }
        if (acceptMode() == QFileDialog::AcceptOpen) {
            const QStringList files = selectedFiles();
            if (!files.isEmpty()) {
                const QFileInfo info(files.first());
                // A directory is left to QFileDialog, which moves into it.
                if (!info.exists()) {
                    const QString text =
                        info.fileName() + QStringLiteral("\nThis file does not exist.\n"
                                                         "Create the file?");
                    const auto answer =
                        QMessageBox::question(this, windowTitle(), text,
                                              QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
                    if (answer != QMessageBox::Yes)
                        return;
                }
            }
        }
        QFileDialog::accept();
    }
};

QMessageBox::Icon toQtIcon(Desktop::Icon icon)
{
    switch (icon) {
    case Desktop::Icon::Information:
        return QMessageBox::Information;
    case Desktop::Icon::Exclamation:
        return QMessageBox::Warning;
    case Desktop::Icon::Critical:
        return QMessageBox::Critical;
    }
    return QMessageBox::NoIcon;
}

} // namespace

bool Desktop::fileDialog(const FileRequest& request, QString* path)
{
    OpenOrCreateDialog dialog(request.owner, request.title, request.initialDir);
    // Qt's own dialog behaves the same on every desktop, and it is the one whose accept()
    // the open-or-create question above hooks into.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    // Both modes accept names that do not exist: saving creates them, and opening asks.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(request.saveMode ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    if (!request.nameFilters.isEmpty()) {
        // The list shows each type as the program words it; the patterns are behind it.
        dialog.setOption(QFileDialog::HideNameFilterDetails);
        dialog.setNameFilters(request.nameFilters);
    }
    if (request.saveMode) {
        dialog.defaultExt = request.defaultExt;
        dialog.setDefaultSuffix(request.defaultExt);
    }
    if (!request.initialName.isEmpty())
        dialog.selectFile(request.initialName);

    if (dialog.exec() != QDialog::Accepted)
        return false;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty())
        return false;
    if (path != nullptr)
        *path = files.first();
    return true;
}

void Desktop::message(QWidget* parent, const QString& text, const QString& title, Icon icon)
{
    QMessageBox box(toQtIcon(icon), title, text, QMessageBox::Ok, parent);
    box.exec();
}

bool Desktop::confirm(QWidget* parent, const QString& text, const QString& title,
                      const QString& accept, const QString& reject)
{
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::NoButton, parent);
    QPushButton* yes = box.addButton(accept, QMessageBox::AcceptRole);
    QPushButton* no = box.addButton(reject, QMessageBox::RejectRole);
    box.setDefaultButton(no);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes;
}

bool Desktop::askText(QWidget* owner, const QString& title, const QString& label, QString* text)
{
    bool ok = false;
    const QString answer =
        QInputDialog::getText(owner, title, label, QLineEdit::Normal, *text, &ok);
    if (ok)
        *text = answer;
    return ok;
}

bool Desktop::openUrl(const QUrl& url)
{
    return QDesktopServices::openUrl(url);
}

quint32 Desktop::tickCount()
{
    // steady_clock is CLOCK_MONOTONIC on Linux: time since boot, never set back. Only the low
    // 32 bits are kept so that callers see the same wrap-around as a 32-bit uptime counter.
    const auto sinceBoot = std::chrono::steady_clock::now().time_since_epoch();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(sinceBoot).count();
    return static_cast<quint32>(static_cast<quint64>(ms));
}

Desktop& Desktop::instance()
{
    static Desktop real;
    return g_installed != nullptr ? *g_installed : real;
}

void Desktop::setInstance(Desktop* p)
{
    g_installed = p;
}

} // namespace framix
