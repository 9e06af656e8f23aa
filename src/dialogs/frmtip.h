#pragma once

#include <QPointer>
#include <QRandomGenerator>
#include <QStringList>
#include <QWidget>

class QCheckBox;
class QLabel;
class QPushButton;

namespace framix {

// The Tip of the Day window: one tip at a time, drawn at random from the tip file
// "TIPOFDAY.TXT" in the program's folder, with "Next Tip", "OK" and the "Show Tips at
// Startup" check box that stores its state in the settings. A window is made for each
// opening and deletes itself when closed; each opening reads the setting and the tip file
// again. While it is up the main window is disabled (and the video window, when the Help
// menu opened it); closing it in any way enables both again. UI thread only.
class frmTip : public QWidget
{
    Q_OBJECT
public:
    // Shown when the tip file cannot be found.
    static const QString kMissingFileText;

    // Makes a window and runs its load, which may close it at once (the setting is 0);
    // otherwise shows it. Returns the window shown, or nullptr when it closed itself.
    static frmTip* open(QWidget* mainWindow, QWidget* videoWindow);

    // The tip file: "TIPOFDAY.TXT" in the folder of the program's executable.
    static QString tipFilePath();

    // Splits a tip file into tips: every line is one, empty lines included. A line ends at
    // a carriage return, a carriage return and line feed, or a lone line feed (files
    // written on Linux); the text is in the system's encoding.
    static QStringList splitTips(const QByteArray& data);

    frmTip(QWidget* mainWindow, QWidget* videoWindow);

    // The window's load: disables and shows the main window, then either loads the tips
    // (setting not 0) or closes the window.
    void Form_Load();

    // Reads the tip file at `path` into Tips and shows a random tip. False when the path is
    // empty or names no ordinary file.
    bool LoadTips(const QString& path);
    // Puts tip number CurrentTip (from 1) into the tip label, when there are tips.
    void DisplayCurrentTip();

    const QStringList& Tips() const { return m_tips; }
    int CurrentTip() const { return m_currentTip; }

    QLabel* lblTipText = nullptr;
    QCheckBox* chkLoadTipsAtStartup = nullptr;
    QPushButton* cmdNextTip = nullptr;
    QPushButton* cmdOK = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void ShowRandomTip();
    void chkLoadTipsAtStartup_Click(bool checked);

    QPointer<QWidget> m_main;
    QPointer<QWidget> m_video;
    QStringList m_tips;
    int m_currentTip = 0;
    QRandomGenerator m_random;
    bool m_closed = false;
};

} // namespace framix
