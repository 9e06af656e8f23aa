#pragma once

#include <QPointer>
#include <QWidget>

class QFrame;
class QLabel;
class QTimer;

namespace framix {

class ClickableLabel;

// The About window: the program's picture, its version, a line about what it does, a
// disclaimer, and the link "Visit Framix Home Page!" that scrolls from right to left and
// opens the home page when clicked. A click anywhere else closes the window. A window is
// made for each opening and deletes itself when closed, so the link starts again from its
// first place. While it is up the main window is disabled. UI thread only.
//
// The link's place is kept in twips: it moves 120 twips per tick, and a pixel holds a
// fraction of that on screens other than 96 DPI.
class frmAbout : public QWidget
{
    Q_OBJECT
public:
    static constexpr double kInnerWidth = 5895;
    static constexpr double kLinkStart = 5760;
    static constexpr double kLinkWidth = 2760;
    static constexpr double kLinkStep = 120;
    static constexpr int kTickMs = 100;

    // The command behind the Help menu's About item: disables the main window, then loads
    // and shows a new window.
    static frmAbout* open(QWidget* mainWindow);

    explicit frmAbout(QWidget* mainWindow);

    // The window's load: disables the main window and starts the scrolling.
    void Form_Load();
    // One step of the scrolling.
    void Timer1_Timer();
    // Opens the home page (whatever comes of it), then closes the window.
    void Label3_Click();

    // The window's outer width, and the link's left position and width, in twips.
    double widthTwips() const;
    double Label3Left() const { return m_label3Left; }
    double Label3Width() const { return m_label3Width; }

    QLabel* Image1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* lblDisclaimer = nullptr;
    ClickableLabel* Label3 = nullptr;
    QFrame* Shape1 = nullptr;
    QTimer* Timer1 = nullptr;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void Form_Click();
    void setLabel3Left(double twipsLeft);

    QPointer<QWidget> m_main;
    double m_label3Left = kLinkStart;
    double m_label3Width = kLinkWidth;
};

} // namespace framix
