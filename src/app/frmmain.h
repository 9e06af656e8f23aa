#pragma once

#include "capturecommands.h"
#include "maincontrols.h"
#include "mediacommands.h"
#include "shellcommands.h"
#include "transportcommands.h"

#include <QMainWindow>
#include <QPointer>

#include <memory>

class QPushButton;
class QFrame;
class QLabel;

namespace framix {

class frmvideo;
class ClickableLabel;
class RecentFilesMenu;

// The main window: a small control bar with the menu tree, transport buttons, the
// position, volume and speed sliders, the state and frame labels, and a side panel that
// Command2 uncovers. It lives from start to end of the program; closing it ends the
// program. The media work behind each control is the playback commands'; this window
// builds the controls, wires them, and runs load, resize, unload and the two menu-opening
// refreshes.
class frmmain : public QMainWindow
{
    Q_OBJECT
public:
    explicit frmmain(QWidget* parent = nullptr);
    ~frmmain() override;

    // Window load: sets up the player (device type, volume, speed) and the shared flags.
    void Form_Load();
    // Where the window first goes: low in the middle of the screen, like a control bar,
    // clear of the video window's first place in the top left corner.
    void placeAtStart();

    const MainControls& controls() const { return m_c; }
    frmvideo* videoWindow() const { return m_video; }
    MediaCommands& media() { return *m_media; }
    TransportCommands& transport() { return *m_transport; }
    CaptureCommands& capture() { return *m_capture; }
    ShellCommands& shell() { return *m_shell; }

    void mnufile_Click();
    void mnucontrol_Click();
    void Command2_Click();

    // How closing the window ends the program (tests replace it).
    void setEndProgram(std::function<void()> end);

    // Window width in twips: compact (links hidden) and expanded.
    static constexpr double kCompactWidth = 5700;
    static constexpr double kExpandedWidth = 10710;
    double widthTwips() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void buildControls();
    void buildMenus();
    void wire();
    void Form_Resize();
    void setClientWidth(double twips);

    MainControls m_c;
    QAction* mnuopen = nullptr;
    QAction* mnuexit = nullptr;
    QAction* mnutopics = nullptr;
    QAction* mnutip = nullptr;
    QAction* mnuabout = nullptr;
    QAction* mnutonemap = nullptr;     // HDR video tone-mapped to standard range (stored)
    QAction* mnudeinterlace = nullptr; // interlaced video deinterlaced (stored)
    QAction* mnushape = nullptr;       // captures in the display shape (stored)
    QMenu* mnufile = nullptr;
    QMenu* mnucontrol = nullptr;
    QMenu* mnustream = nullptr; // the open file's video streams, when it has several
    RecentFilesMenu* mnurecent = nullptr;
    void mnustream_Show();
    QPushButton* Command2 = nullptr;
    QFrame* Picture1 = nullptr;
    // The twin of a button that was hidden while it had the keyboard, until it shows.
    QWidget* m_focusTo = nullptr;
    QPointer<QWidget> m_lastFocus; // the control of this window that last had the keyboard
    QWidget* twinOf(QObject* button) const;
    ClickableLabel* Label1 = nullptr;
    ClickableLabel* Label3 = nullptr;
    QLabel* Image1 = nullptr;
    frmvideo* m_video = nullptr;
    std::unique_ptr<MediaCommands> m_media;
    std::unique_ptr<TransportCommands> m_transport;
    std::unique_ptr<CapturePlayer> m_capturePlayer;
    std::unique_ptr<CaptureCommands> m_capture;
    std::unique_ptr<ShellCommands> m_shell;
    std::function<void()> m_endProgram;
    bool m_painted = false;
};

} // namespace framix
