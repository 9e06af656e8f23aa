#pragma once

#include <QPointer>
#include <QString>

class QWidget;

namespace framix {

class frmvideo;

// The main window's commands that open the secondary windows (media information, Tip of
// the Day, About), the side panel's two links and Help Topics. Links and the help page are
// handed to the desktop through Desktop::openUrl, whose outcome is never looked at: a
// desktop without a mail program or browser simply opens nothing. UI thread only.
class ShellCommands
{
public:
    ShellCommands(QWidget* mainWindow, frmvideo* video);

    void cmdinfo_Click();
    void mnutip_Click();
    void mnuabout_Click();
    void mnutopics_Click();
    // The e-mail link and the home page link of the side panel.
    void Label1_Click();
    void Label3_Click();

    // The help page: "index.htm" in the program's folder.
    static QString helpFilePath();
    static const QString kMissingHelpText;

private:
    QPointer<QWidget> m_main;
    QPointer<frmvideo> m_video;
};

} // namespace framix
