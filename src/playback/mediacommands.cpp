#include "mediacommands.h"

#include "filepaths.h"
#include "frmvideo.h"
#include "mcommon.h"
#include "recentfiles.h"
#include "settings.h"
#include "sharedstate.h"

#include <QAbstractButton>
#include <QAction>
#include <QCoreApplication>
#include <QLabel>
#include <QMenu>
#include <QSlider>

namespace framix {

MediaCommands::MediaCommands(const MainControls& main, frmvideo* video)
    : m_main(main), m_video(video), m_endProgram([] { QCoreApplication::exit(0); })
{
}

void MediaCommands::mnuopen_Click()
{
    // Every kind of file the program plays comes first, so that MP4, MKV and the rest show
    // without choosing "All Files"; the dialog opens where the last file was opened.
    const QString path = FileDialog(
        m_main.frmmain, false, QStringLiteral("Open..."),
        QStringLiteral("Video Files|*.mpg;*.mpeg;*.m1v;*.m2v;*.mpv;*.vob;*.ts;*.m2ts;*.mts;*.avi;"
                       "*.wmv;*.asf;*.mp4;*.m4v;*.mov;*.mkv;*.webm;*.flv;*.ogv;*.3gp|"
                       "Moving Picture Experts Group (MPEG)|*.mpg;*.mpeg;*.m1v;*.mp2;*.mpa;*.mpe;"
                       "*.mpv2|Windows Video Files|*.avi;*.wmv|All Files (*.*)|*.*|"),
        QString(), QString(), Settings::openFolder());
    openPath(path);
}

void MediaCommands::openPath(const QString& chosen, const SourceOptions& reading)
{
    // A name from the file dialog or a drop whose bytes are not valid text is found again
    // by its bytes.
    const QString path = pathFromShown(chosen);
    // Any step that fails ends the command there; what was done stays done. There is no
    // message box, but the main window's state label says why.
    if (path.isEmpty())
        return;
    if (!FileExists(path)) {
        ShowFailure(m_main.lblstate, QStringLiteral("cannot open"),
                    path + QStringLiteral(": ") +
                        (DirExists(path) ? QStringLiteral("a folder, not a file")
                                         : QStringLiteral("no such file")));
        return;
    }
    // A file whose name is not valid text is opened through its descriptor: its folder's
    // name could not be given back to the file dialog either.
    const QString shown = shownPath(path);
    if (shown == path)
        Settings::setOpenFolder(SplitPath(path, true));
    mnuclose_Click();
    m_main.frmmain->repaint();
    QCoreApplication::processEvents();
    shared().resizeok = false;
    shared().seeking = false;
    PlayerComponent* player = m_video->MCIWnd1;
    if (!player->setFileName(path, reading)) {
        ShowFailure(m_main.lblstate, QStringLiteral("cannot open"),
                    SplitPath(shown, false) + QStringLiteral(": ") + player->lastError().message());
        return;
    }
    // Like the open folder, a name that is not valid text could not be given back later.
    if (shown == path)
        RecentFiles::add(path);
    player->setVolume(m_main.Slider2->value() * 10);
    m_main.Slider1->setMinimum(player->start());
    m_main.Slider1->setMaximum(player->length());
    player->setCommand(QStringLiteral("open"));
    shared().norepeat = !m_main.mnurepeat->isChecked();
    m_video->setWindowTitle(SplitPath(shown, false));
    m_main.lbllength->setText(QStringLiteral("Frame: ") + QString::number(player->position()));
    if (!player->hasPicture()) {
        audio();
    } else {
        m_video->showWindow();
        // The control bar stays in front of the new picture, with the keyboard, so its
        // menus and keys work at once.
        m_main.frmmain->raise();
        m_main.frmmain->activateWindow();
        video();
    }
    activate();
    // New media is stopped: Play is offered, also when the media closed above was playing
    // (closing hides Pause without showing Play).
    m_main.cmdplay1->setVisible(false);
    m_main.cmdplay->setVisible(true);
    // The keyboard starts on Play, so Space plays what was just opened.
    m_main.cmdplay->setFocus(Qt::OtherFocusReason);
}

void MediaCommands::chooseVideoStream(int index)
{
    PlayerComponent* player = m_video->MCIWnd1;
    const QString path = player->fileName();
    if (path.isEmpty() || index == player->mediaInfo().videoStream)
        return;
    // Each stream numbers its own frames: the moment on screen is what carries over.
    const qint64 at = player->timeOfPositionMs(player->position());
    SourceOptions reading = player->videoOptions();
    reading.stream = index;
    openPath(path, reading);
    if (player->fileName() == path && player->hasPicture() && at > 0) {
        const int frame = player->positionAtTimeMs(at);
        player->setPosition(frame);
        m_main.Slider1->setValue(frame);
    }
}

void MediaCommands::mnuclose_Click()
{
    PlayerComponent* player = m_video->MCIWnd1;
    player->setCommand(QStringLiteral("close"));
    player->setFileName(QString());
    m_video->close();
    disable();
    // No frame is shown any more.
    m_main.lbllength->clear();
}

void MediaCommands::mnuexit_Click()
{
    if (!m_video->MCIWnd1->fileName().isEmpty()) {
        mnuclose_Click();
        QCoreApplication::processEvents();
    }
    m_endProgram();
}

void MediaCommands::activate()
{
    m_main.cmdplay->setEnabled(true);
    m_main.cmdinfo->setEnabled(true);
    m_main.Slider1->setEnabled(true);
}

void MediaCommands::audio()
{
    m_main.cmdplay1->setEnabled(true);
    m_main.Slider3->setEnabled(true);
    for (QAbstractButton* b : {m_main.cmdback, m_main.cmdnext, m_main.cmdseek, m_main.cmdstep})
        b->setEnabled(true);
    for (QAbstractButton* b : {m_main.cmdcapture, m_main.cmdfast, m_main.cmdfast1})
        b->setEnabled(false);
    m_main.mnuview->setEnabled(false);
    for (QAction* a : {m_main.mnufullscreen, m_main.mnucapture, m_main.mnubulk, m_main.mnucopy})
        a->setEnabled(false);
    m_main.mnuinfo->setEnabled(true);
    m_main.mnugoto->setEnabled(true);
    shared().audioonly = true;
}

void MediaCommands::video()
{
    m_main.cmdplay1->setEnabled(true);
    m_main.Slider3->setEnabled(true);
    for (QAbstractButton* b : {m_main.cmdcapture, m_main.cmdfast, m_main.cmdfast1, m_main.cmdnormal,
                               m_main.cmdfullscreen})
        b->setEnabled(true);
    m_main.mnuview->setEnabled(true);
    for (QAction* a : {m_main.mnufullscreen, m_main.mnucapture, m_main.mnubulk, m_main.mnucopy})
        a->setEnabled(true);
    m_main.mnuinfo->setEnabled(true);
    m_main.mnugoto->setEnabled(true);
    shared().audioonly = false;
}

void MediaCommands::disable()
{
    m_main.cmdplay->setEnabled(false);
    m_main.cmdplay1->setEnabled(false);
    m_main.cmdplay1->setVisible(false);
    m_main.cmdinfo->setEnabled(false);
    m_main.Slider1->setEnabled(false);
    m_main.Slider3->setEnabled(false);
    for (QAbstractButton* b :
         {m_main.cmdback, m_main.cmdnext, m_main.cmdseek, m_main.cmdstep, m_main.cmdcapture,
          m_main.cmdfast, m_main.cmdfast1, m_main.cmdnormal, m_main.cmdfullscreen})
        b->setEnabled(false);
    m_main.mnuview->setEnabled(false);
    for (QAction* a : {m_main.mnufullscreen, m_main.mnucapture, m_main.mnubulk, m_main.mnuinfo,
                       m_main.mnucopy, m_main.mnugoto})
        a->setEnabled(false);
    if (m_main.lbltime)
        m_main.lbltime->clear();
}

} // namespace framix
