#include "transportcommands.h"

#include "desktop.h"
#include "frametarget.h"
#include "frmvideo.h"
#include "mcommon.h"
#include "sharedstate.h"

#include <QAbstractButton>
#include <QAction>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QScreen>
#include <QSlider>

namespace framix {

TransportCommands::TransportCommands(const MainControls& main, frmvideo* video)
    : m_main(main), m_video(video)
{
}

void TransportCommands::cmdplay_Click()
{
    PlayerComponent* player = m_video->MCIWnd1;
    if (player->hasPicture())
        m_video->showWindow();
    player->setCommand(QStringLiteral("play"));
    m_main.cmdplay->setVisible(false);
    m_main.cmdplay1->setVisible(true);
}

void TransportCommands::cmdplay1_Click()
{
    m_video->MCIWnd1->setCommand(QStringLiteral("pause"));
    m_main.cmdplay1->setVisible(false);
    m_main.cmdplay->setVisible(true);
}

void TransportCommands::cmdback_Click()
{
    shared().norepeat = true;
    m_video->MCIWnd1->setPosition(0);
}

void TransportCommands::cmdnext_Click()
{
    shared().norepeat = true;
    m_video->MCIWnd1->setCommand(QStringLiteral("stop"));
    m_video->MCIWnd1->setPosition(m_main.Slider1->maximum());
}

void TransportCommands::cmdseek_Click()
{
    shared().norepeat = true;
    const int p = m_video->MCIWnd1->position();
    m_video->MCIWnd1->setPosition(p - 1);
}

void TransportCommands::cmdstep_Click()
{
    shared().norepeat = true;
    const int p = m_video->MCIWnd1->position();
    m_video->MCIWnd1->setPosition(p + 1);
}

void TransportCommands::Slider1_Scroll()
{
    // Qt reports some actions that move nothing (a click on the groove is reported twice,
    // the second time at the value already reached): no change follows them to end the
    // seek, which would leave the slider no longer following the player.
    if (m_main.Slider1->sliderPosition() == m_main.Slider1->value())
        return;
    shared().seeking = true;
}

void TransportCommands::Slider1_Change()
{
    shared().seekpos = m_main.Slider1->value();
    if (!shared().seeking)
        return;
    m_video->MCIWnd1->setPosition(shared().seekpos);
    if (m_main.lblstate->text() == QLatin1String("paused")) {
        cmdplay1_Click();
        shared().seeking = false;
    }
    if (m_main.lblstate->text() == QLatin1String("playing")) {
        cmdplay_Click();
        shared().seeking = false;
    }
    // Stopped (a file just opened) the position is all there is to set; the player then
    // holds that frame paused. The slider follows the player again from here, or it would
    // stay where it was clicked while playback later moves on.
    shared().seeking = false;
}

void TransportCommands::mnurepeat_Click()
{
    if (m_main.mnurepeat->isChecked()) {
        shared().norepeat = true;
        m_main.mnurepeat->setChecked(false);
    } else {
        shared().norepeat = false;
        m_main.mnurepeat->setChecked(true);
    }
}

void TransportCommands::Slider2_Change()
{
    shared().curvolume = m_main.Slider2->value() * 10;
    m_video->MCIWnd1->setVolume(shared().curvolume);
}

void TransportCommands::mnumute_Click()
{
    if (m_main.mnumute->isChecked()) {
        m_main.mnumute->setChecked(false);
        m_main.cmdmute1->setVisible(false);
        m_main.cmdmute->setVisible(true);
        m_video->MCIWnd1->setVolume(m_main.Slider2->value() * 10);
    } else {
        m_main.mnumute->setChecked(true);
        m_main.cmdmute1->setVisible(true);
        m_main.cmdmute->setVisible(false);
        m_video->MCIWnd1->setVolume(0);
    }
}

void TransportCommands::Slider3_Change()
{
    shared().curspeed = m_main.Slider3->value();
    m_video->MCIWnd1->setSpeed(shared().curspeed);
}

void TransportCommands::Command1_Click()
{
    // The slider's change sends the speed; when it already reads normal there is no
    // change, but a double speed set with "2X" must still end.
    if (m_main.Slider3->value() == 1000)
        Slider3_Change();
    else
        m_main.Slider3->setValue(1000);
}

void TransportCommands::cmdfast_Click()
{
    m_video->MCIWnd1->setSpeed(2000);
    m_main.cmdfast1->setVisible(true);
    m_main.cmdfast->setVisible(false);
}

void TransportCommands::cmdfast1_Click()
{
    m_video->MCIWnd1->setSpeed(1000);
    m_main.cmdfast1->setVisible(false);
    m_main.cmdfast->setVisible(true);
}

void TransportCommands::zoomTo(int percent)
{
    shared().resizeok = false;
    // Sizing a maximised or full-screen window means nothing to the window manager, so
    // every size first brings the window back to its normal state.
    m_video->setState(frmvideo::State::Normal);
    PlayerComponent* player = m_video->MCIWnd1;
    player->setZoom(percent);
    m_video->setHeightTwips(player->heightTwips() + frmvideo::kFrameHeight);
    // The window's width counts its frame too: sized to the player's width alone, the
    // picture would lose its last columns.
    m_video->setWidthTwips(player->widthTwips() + frmvideo::kFrameWidth);
    shared().resizeok = true;
}

void TransportCommands::mnuhalf_Click()
{
    zoomTo(50);
}

void TransportCommands::mnunormal_Click()
{
    zoomTo(100);
}

void TransportCommands::mnudouble_Click()
{
    zoomTo(200);
}

void TransportCommands::mnufullscreen_Click()
{
    // Full screen takes away the caption and frame; leaving it brings them back.
    m_video->setState(frmvideo::State::FullScreen);
    m_video->show();
    m_video->repaint();
    // The window manager resizes the window after this call returns. Let that resize (and
    // the player following it) happen before full screen is marked, so that only a later
    // size change ends it.
    QElapsedTimer waited;
    waited.start();
    const QScreen* screen = m_video->screen();
    while (waited.elapsed() < 500 && screen && m_video->size() != screen->size())
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    shared().fullscreen = true;
}

void TransportCommands::mnugoto_Click()
{
    PlayerComponent* player = m_video->MCIWnd1;
    if (player->fileName().isEmpty())
        return;
    // Move to Last goes to the position after the last frame's start, the media's length,
    // which shows the last frame: the same numbers are offered here.
    const int last = std::max(0, player->length());
    QString text = QString::number(player->position());
    const qint64 endMs = player->timeOfPositionMs(player->length());
    const QString prompt = QStringLiteral("Frame number (0 to %1) or time (h:mm:ss.mmm, up to %2):")
                               .arg(last)
                               .arg(TimeText(endMs));
    for (;;) {
        if (!Desktop::instance().askText(m_main.frmmain, QStringLiteral("Go to Frame"), prompt,
                                         &text))
            return;
        const std::optional<FrameTarget> target = FrameTarget::parse(text);
        if (target) {
            // The end time is the last position, as the readout shows it there.
            const qint64 frame = !target->isTime          ? target->value
                                 : target->value == endMs ? qint64(player->length())
                                                          : player->positionAtTimeMs(target->value);
            // A time past the end of the last frame is no moment of the media, not a reason
            // to go to the last frame.
            const bool within = !target->isTime || target->value <= endMs;
            if (within && frame >= 0 && frame <= last) {
                if (player->mode() == QLatin1String("playing"))
                    cmdplay1_Click();
                shared().norepeat = true;
                player->setPosition(int(frame));
                return;
            }
        }
        Desktop::instance().message(
            m_main.frmmain,
            QStringLiteral("\"%1\" is not a frame from 0 to %2 or a time up to %3.")
                .arg(text.trimmed())
                .arg(last)
                .arg(TimeText(endMs)),
            QStringLiteral("Go to Frame"), Desktop::Icon::Exclamation);
    }
}

void TransportCommands::mnucopy_Click()
{
    PlayerComponent* player = m_video->MCIWnd1;
    if (player->fileName().isEmpty() || !player->hasPicture())
        return;
    if (player->mode() == QLatin1String("playing"))
        cmdplay1_Click();
    if (!player->CopyFrame())
        ShowFailure(m_main.lblstate, QStringLiteral("not copied"), player->lastError().message());
}

} // namespace framix
