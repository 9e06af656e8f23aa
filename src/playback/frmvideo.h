#pragma once

#include "maincontrols.h"
#include "playercomponent.h"
#include "settings.h"

#include <QElapsedTimer>
#include <QWidget>

#include <functional>
#include <optional>

class QMimeData;

namespace framix {

// The separate, resizable window the player draws in. Created hidden when the main window
// loads and never destroyed while the program runs: a close request pauses the player and
// hides the window. It keeps its place and size across runs, makes the player follow a
// user resize, fits itself around the player when new media is loaded, and is the one
// place where the player's five reports are handled: they keep the main window's labels,
// position slider, Play/Pause pair and navigation buttons in step with the player.
//
// Geometry is in twips. Width and Height are the window's outer size, counted as the
// client area plus 30 twips of frame width and 495 twips of caption and frame height
// (the decoration sizes the layout was designed for), so a fit sizes the client area to
// the picture exactly whatever decorations the window manager draws.
class frmvideo : public QWidget
{
    Q_OBJECT
public:
    static constexpr double kFrameWidth = 30;
    static constexpr double kFrameHeight = 495;

    explicit frmvideo(const MainControls& main, QWidget* parent = nullptr);

    PlayerComponent* MCIWnd1 = nullptr;

    // Reads the saved placement. Runs once, when the main window first uses the player.
    void Form_Load();

    double Left() const;
    double Top() const;
    double widthTwips() const;
    double heightTwips() const;
    void setLeft(double twips);
    void setTop(double twips);
    void setWidthTwips(double twips);
    void setHeightTwips(double twips);
    enum class State
    {
        Normal,
        Minimised,
        FullScreen
    };
    State state() const;
    // FullScreen: the whole screen, without caption and frame; Normal comes back to where
    // the window was before.
    void setState(State state);
    // Shows the window, brought back from the taskbar when it was minimised: a window that
    // is asked to show is one the user wants to see.
    void showWindow();

    // Files dropped on the window are handed here (the main window opens them).
    void setDropHandler(std::function<void(const QString&)> handler)
    {
        m_dropHandler = std::move(handler);
    }
    // A double click on the picture outside full screen asks for it here.
    void setFullScreenHandler(std::function<void()> handler)
    {
        m_fullScreenHandler = std::move(handler);
    }
    // Whether a stored placement shows at least the start of the window's caption on one of
    // the screens there are now.
    static bool onSomeScreen(const Settings::Placement& place);

    void MCIWnd1_ModeChange(int mode);
    void MCIWnd1_MediaChange(const QString& value);
    void MCIWnd1_Notify(int value);
    void MCIWnd1_PositionChange(int value);
    void MCIWnd1_SizeChange();

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void Form_QueryUnload();
    void Form_Resize();
    void fitToPlayer();
    void fitToScreen();
    void moveFrameTo(QPoint corner);
    void placePendingFrame();
    void placeFrame(QPoint corner);
    QPoint pictureOffsetGuess() const;
    QPoint frameCorner() const;

    // The twips last put, kept while the window still has the pixel geometry they gave:
    // a pixel holds several twips, and what is stored must read back as it was put.
    struct Remembered
    {
        double twips = -1;
        int pixels = -1;
    };
    static double recall(const Remembered& r, int pixels);
    Remembered m_left, m_top, m_width, m_height;
    // Where the frame's corner was before the window filled the screen.
    std::optional<QPoint> m_normalCorner;
    // Where the frame's corner goes once the window manager has framed the window, and
    // since when it is framed.
    std::optional<QPoint> m_pendingCorner;
    QElapsedTimer m_framed;
    QSize m_sizeAsked; // the size last set by the program, while the frame is being placed
    // How far the picture area sits from the frame's corner, once known.
    std::optional<QPoint> m_frameOffset;
    static constexpr int kSettleMs = 1000;
    // Larger than any desktop; a stored value beyond it is not a placement.
    static constexpr double kLargestTwips = 15.0 * 100000;
    static constexpr int kGrabPixels = 40;

    MainControls m_main;
    std::function<void(const QString&)> m_dropHandler;
    std::function<void()> m_fullScreenHandler;
    int m_reportedPosition = -1;
};

// The local file a drag carries, or "" when it carries none.
QString droppedFile(const QMimeData* mime);

} // namespace framix
