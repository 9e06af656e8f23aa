#include "frmvideo.h"

#include "mcommon.h"
#include "settings.h"
#include "sharedstate.h"
#include "twips.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QMouseEvent>
#include <QScreen>
#include <QShowEvent>
#include <QSlider>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace framix {

frmvideo::frmvideo(const MainControls& main, QWidget* parent)
    : QWidget(parent, Qt::Window), m_main(main)
{
    setAcceptDrops(true);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::black);
    setPalette(p);
    MCIWnd1 = new PlayerComponent(this);
    MCIWnd1->move(0, 0);
    connect(MCIWnd1, &PlayerComponent::ModeChange, this, &frmvideo::MCIWnd1_ModeChange);
    connect(MCIWnd1, &PlayerComponent::MediaChange, this, &frmvideo::MCIWnd1_MediaChange);
    connect(MCIWnd1, &PlayerComponent::Notify, this, &frmvideo::MCIWnd1_Notify);
    connect(MCIWnd1, &PlayerComponent::PositionChange, this, &frmvideo::MCIWnd1_PositionChange);
    connect(MCIWnd1, &PlayerComponent::SizeChange, this, &frmvideo::MCIWnd1_SizeChange);
}

void frmvideo::Form_Load()
{
    Settings::Placement place = Settings::videoPlacement();
    if (!onSomeScreen(place)) {
        // Stored on a monitor that is gone (or edited by hand): where a first run puts it,
        // so the window is not left out of sight.
        const Settings::Placement first;
        place.left = first.left;
        place.top = first.top;
        if (!(place.width > 0 && place.width <= kLargestTwips))
            place.width = first.width;
        if (!(place.height > 0 && place.height <= kLargestTwips))
            place.height = first.height;
    }
    setLeft(place.left);
    setTop(place.top);
    setWidthTwips(place.width);
    setHeightTwips(place.height);
    // The player reads the video as the user last chose (the Tools menu keeps the setting).
    MCIWnd1->setDeinterlace(Settings::deinterlace());
}

bool frmvideo::onSomeScreen(const Settings::Placement& place)
{
    const auto fits = [](double v) { return std::isfinite(v) && std::abs(v) <= kLargestTwips; };
    if (!fits(place.left) || !fits(place.top) || !fits(place.width) || !fits(place.height))
        return false;
    // Enough of the window to take hold of it with the mouse: its caption's first pixels.
    const QRect window(twips::toPixels(place.left), twips::toPixels(place.top),
                       std::max(1, twips::toPixels(place.width)), kGrabPixels);
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect shared = window.intersected(screen->availableGeometry());
        if (shared.width() >= std::min(window.width(), kGrabPixels) && shared.height() > 0)
            return true;
    }
    return false;
}

double frmvideo::recall(const Remembered& r, int pixels)
{
    return r.pixels == pixels ? r.twips : twips::fromPixels(pixels);
}

namespace {

bool framed(const QWidget* w)
{
    return w->frameGeometry() != w->geometry();
}

QPoint frameOffset(const QWidget* w)
{
    return w->geometry().topLeft() - w->frameGeometry().topLeft();
}

} // namespace

QPoint frmvideo::frameCorner() const
{
    // Not framed yet: where the frame's corner is going to be.
    if (m_pendingCorner && !framed(this))
        return *m_pendingCorner;
    return frameGeometry().topLeft();
}

double frmvideo::Left() const
{
    return recall(m_left, frameCorner().x());
}

double frmvideo::Top() const
{
    return recall(m_top, frameCorner().y());
}

double frmvideo::widthTwips() const
{
    return recall(m_width, width()) + kFrameWidth;
}

double frmvideo::heightTwips() const
{
    return recall(m_height, height()) + kFrameHeight;
}

void frmvideo::setLeft(double twips)
{
    const int x = twips::toPixels(twips);
    m_left = {twips, x};
    moveFrameTo(QPoint(x, frameCorner().y()));
}

void frmvideo::setTop(double twips)
{
    const int y = twips::toPixels(twips);
    m_top = {twips, y};
    moveFrameTo(QPoint(frameCorner().x(), y));
}

QPoint frmvideo::pictureOffsetGuess() const
{
    if (m_frameOffset)
        return *m_frameOffset;
    // Not framed yet: the program's other windows carry the same decorations.
    for (const QWidget* w : QApplication::topLevelWidgets())
        if (w != this && w->isVisible() && framed(w) &&
            !(w->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)))
            return frameOffset(w);
    return {};
}

void frmvideo::moveFrameTo(QPoint corner)
{
    // Left and Top are the outer frame's corner, as they are read back. Until the window
    // manager has framed the window, Qt may know no frame. Left to itself it would then ask
    // the window manager to put the frame there, and go on believing the picture area is
    // there, a title bar higher than it is: every run would store the window higher up.
    // So the window is made now, and where its frame is still unknown its picture area is
    // placed where the frame's corner puts it, which Qt then knows exactly; once the frame
    // is known, the corner is checked (see placePendingFrame).
    create();
    if (framed(this)) {
        m_frameOffset = frameOffset(this);
        m_pendingCorner.reset();
        placeFrame(corner);
        return;
    }
    move(corner + pictureOffsetGuess());
    m_pendingCorner = corner;
}

void frmvideo::placePendingFrame()
{
    if (!m_pendingCorner || !isVisible() || !framed(this))
        return;
    m_frameOffset = frameOffset(this);
    if (!m_framed.isValid()) {
        // Requests Qt sent before the frame was known (the fit to new media, say) still
        // reach the window manager afterwards and may move the window again: the frame is
        // held at its corner during the window's first moments on the screen.
        m_framed.start();
        QTimer::singleShot(kSettleMs, this, [this] {
            placePendingFrame();
            m_pendingCorner.reset();
            m_framed.invalidate();
            m_sizeAsked = QSize();
        });
    }
    if (frameGeometry().topLeft() != *m_pendingCorner)
        placeFrame(*m_pendingCorner);
}

void frmvideo::placeFrame(QPoint corner)
{
    // Position and size together, and the size the program last asked for: a move alone,
    // or the size the window system last reported, could be one that a resize still on its
    // way (the fit to new media, the return from full screen) is about to replace, and
    // would undo it.
    setGeometry(QRect(corner + frameOffset(this), m_sizeAsked.isValid() ? m_sizeAsked : size()));
}

void frmvideo::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!m_pendingCorner)
        return;
    if (!framed(this) && !event->spontaneous()) {
        // About to be mapped: by now the main window is usually framed, and its frame
        // tells where the picture area must go.
        move(*m_pendingCorner + pictureOffsetGuess());
    }
    // The window manager frames the window without telling Qt (its picture area does not
    // move): look until the frame is known.
    auto* poll = new QTimer(this);
    poll->setInterval(50);
    connect(poll, &QTimer::timeout, this, [this, poll, tries = 0]() mutable {
        placePendingFrame();
        if (!m_pendingCorner || m_framed.isValid() || ++tries >= 60 || !isVisible())
            poll->deleteLater();
    });
    poll->start();
}

void frmvideo::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    placePendingFrame();
}

void frmvideo::setWidthTwips(double twips)
{
    const int w = std::max(1, twips::toPixels(twips - kFrameWidth));
    m_width = {twips - kFrameWidth, w};
    resize(w, height());
    m_sizeAsked = size();
}

void frmvideo::setHeightTwips(double twips)
{
    const int h = std::max(1, twips::toPixels(twips - kFrameHeight));
    m_height = {twips - kFrameHeight, h};
    resize(width(), h);
    m_sizeAsked = size();
}

frmvideo::State frmvideo::state() const
{
    if (isMinimized())
        return State::Minimised;
    if (isMaximized() || isFullScreen())
        return State::FullScreen;
    return State::Normal;
}

void frmvideo::setState(State state)
{
    const Qt::WindowStates enlarged = Qt::WindowMaximized | Qt::WindowFullScreen;
    switch (state) {
    case State::Minimised:
        showMinimized();
        break;
    case State::FullScreen:
        // Maximised here means the whole screen, without caption and frame. Where the
        // window was is kept, so that coming back puts it there again.
        if (!(windowState() & enlarged))
            m_normalCorner = frameGeometry().topLeft();
        QWidget::setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowFullScreen);
        break;
    case State::Normal:
        if (windowState() & enlarged) {
            QWidget::setWindowState(windowState() & ~(enlarged | Qt::WindowMinimized));
            // The frame comes back with the normal state, after this returns.
            if (m_normalCorner)
                moveFrameTo(*m_normalCorner);
            m_normalCorner.reset();
        } else if (windowState() & Qt::WindowMinimized) {
            QWidget::setWindowState(windowState() & ~Qt::WindowMinimized);
        }
        break;
    }
}

void frmvideo::showWindow()
{
    if (windowState() & Qt::WindowMinimized)
        QWidget::setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
}

void frmvideo::closeEvent(QCloseEvent* event)
{
    // Never unloaded while the program runs.
    event->ignore();
    Form_QueryUnload();
}

void frmvideo::Form_QueryUnload()
{
    if (state() != State::Minimised)
        Settings::setVideoPlacement({Left(), Top(), widthTwips(), heightTwips()});
    MCIWnd1->setCommand(QStringLiteral("pause"));
    hide();
}

void frmvideo::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    Form_Resize();
}

void frmvideo::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        Form_Resize();
}

void frmvideo::keyPressEvent(QKeyEvent* event)
{
    // Full screen has no caption to restore the window from: Escape brings it back, and
    // the size change that follows returns the picture to 100 %.
    if (event->key() == Qt::Key_Escape && state() == State::FullScreen) {
        setState(State::Normal);
        return;
    }
    QWidget::keyPressEvent(event);
}

void frmvideo::mouseDoubleClickEvent(QMouseEvent* event)
{
    // A double click on the picture goes to full screen and back, as in other players.
    if (event->button() == Qt::LeftButton) {
        if (state() == State::FullScreen)
            setState(State::Normal);
        else if (m_fullScreenHandler)
            m_fullScreenHandler();
        return;
    }
    QWidget::mouseDoubleClickEvent(event);
}

void frmvideo::Form_Resize()
{
    if (!shared().resizeok || state() == State::Minimised || !isVisible())
        return;
    MCIWnd1->setHeightTwips(heightTwips() - kFrameHeight);
    MCIWnd1->setWidthTwips(widthTwips() - kFrameWidth);
}

void frmvideo::MCIWnd1_ModeChange(int mode)
{
    m_main.lblstate->setText(MCIWnd1->mode());
    m_main.lblstate->setToolTip(QString()); // a failure shown there is over
    if (mode == PlayerComponent::Paused) {
        m_main.cmdplay1->setVisible(false);
        m_main.cmdplay->setVisible(true);
    }
    if (mode == PlayerComponent::Stopped) {
        MCIWnd1->setPosition(0);
        m_main.cmdplay1->setVisible(false);
        m_main.cmdplay->setVisible(true);
        if (!shared().norepeat) {
            MCIWnd1->setCommand(QStringLiteral("play"));
            m_main.cmdplay->setVisible(false);
            m_main.cmdplay1->setVisible(true);
        }
    }
    if (mode == PlayerComponent::Playing) {
        m_main.cmdplay->setVisible(false);
        m_main.cmdplay1->setVisible(true);
    }
}

void frmvideo::fitToPlayer()
{
    shared().resizeok = false;
    MCIWnd1->setZoom(100);
    setHeightTwips(MCIWnd1->heightTwips() + kFrameHeight);
    setWidthTwips(MCIWnd1->widthTwips() + kFrameWidth);
    shared().resizeok = true;
}

void frmvideo::MCIWnd1_MediaChange(const QString&)
{
    // New media comes up in a window of its own size, also when the one before was left in
    // full screen.
    if (state() == State::FullScreen) {
        shared().resizeok = false;
        setState(State::Normal);
        shared().fullscreen = false;
    }
    fitToPlayer();
    fitToScreen();
}

void frmvideo::fitToScreen()
{
    const QScreen* where = screen() != nullptr ? screen() : QGuiApplication::primaryScreen();
    if (where == nullptr || !MCIWnd1->mediaInfo().hasVideo || width() <= 0 || height() <= 0)
        return;
    const QRect area = where->availableGeometry();
    const QSize frame(twips::toPixels(kFrameWidth), twips::toPixels(kFrameHeight));
    const QSize room = area.size() - frame;
    // A picture larger than the work area first shows smaller, its shape kept, as players
    // open it (a 4K capture, a phone's portrait video): every edge of the window can then
    // be reached. The player's zoom stays what it is; Half, Normal and Double size it.
    if ((width() > room.width() || height() > room.height()) && room.width() > 0 &&
        room.height() > 0) {
        const double scale =
            std::min(double(room.width()) / width(), double(room.height()) / height());
        const int w = std::max(1, int(width() * scale));
        const int h = std::max(1, int(height() * scale));
        shared().resizeok = false;
        MCIWnd1->setWidthTwips(twips::fromPixels(w));
        MCIWnd1->setHeightTwips(twips::fromPixels(h));
        setHeightTwips(MCIWnd1->heightTwips() + kFrameHeight);
        setWidthTwips(MCIWnd1->widthTwips() + kFrameWidth);
        shared().resizeok = true;
    }
    // And wholly on the screen.
    const QSize outer = size() + frame;
    QPoint corner = frameCorner();
    corner.setX(std::clamp(corner.x(), area.left(),
                           std::max(area.left(), area.right() + 1 - outer.width())));
    corner.setY(std::clamp(corner.y(), area.top(),
                           std::max(area.top(), area.bottom() + 1 - outer.height())));
    if (corner != frameCorner())
        moveFrameTo(corner);
}

void frmvideo::MCIWnd1_Notify(int)
{
    m_main.lblstate->setText(MCIWnd1->mode());
}

void frmvideo::MCIWnd1_PositionChange(int)
{
    // A failure the state label shows is over once the user has moved on to another frame.
    if (MCIWnd1->position() != m_reportedPosition && !m_main.lblstate->toolTip().isEmpty()) {
        m_main.lblstate->setText(MCIWnd1->mode());
        m_main.lblstate->setToolTip(QString());
    }
    m_reportedPosition = MCIWnd1->position();
    m_main.lbllength->setText(QStringLiteral("Frame: ") + QString::number(MCIWnd1->position()));
    if (m_main.lbltime)
        SetFittedText(m_main.lbltime, TimeText(MCIWnd1->timeOfPositionMs(MCIWnd1->position())) +
                                          QStringLiteral(" / ") +
                                          QString::number(MCIWnd1->length()));
    if (!shared().seeking)
        m_main.Slider1->setValue(MCIWnd1->position());
    const bool atStart = MCIWnd1->position() == 0;
    m_main.cmdseek->setEnabled(!atStart);
    m_main.cmdback->setEnabled(!atStart);
    const bool atEnd = MCIWnd1->position() == MCIWnd1->length();
    m_main.cmdstep->setEnabled(!atEnd);
    m_main.cmdnext->setEnabled(!atEnd);
}

void frmvideo::MCIWnd1_SizeChange()
{
    // The window manager may send the full-screen size more than once; only a size change
    // after the window left full screen ends it.
    if (!shared().fullscreen || state() == State::FullScreen)
        return;
    fitToPlayer();
    shared().fullscreen = false;
    shared().resizeok = true;
}

QString droppedFile(const QMimeData* mime)
{
    if (!mime || !mime->hasUrls())
        return {};
    for (const QUrl& url : mime->urls())
        if (url.isLocalFile())
            return url.toLocalFile();
    return {};
}

void frmvideo::dragEnterEvent(QDragEnterEvent* event)
{
    if (m_dropHandler && !droppedFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void frmvideo::dropEvent(QDropEvent* event)
{
    const QString path = droppedFile(event->mimeData());
    if (m_dropHandler && !path.isEmpty()) {
        event->acceptProposedAction();
        // Opened after the drop has finished, not inside the drag-and-drop machinery.
        QMetaObject::invokeMethod(
            this, [this, path] { m_dropHandler(path); }, Qt::QueuedConnection);
    }
}

} // namespace framix
