#include "shellcommands.h"

#include "desktop.h"
#include "frmabout.h"
#include "frminfo.h"
#include "frmtip.h"
#include "frmvideo.h"
#include "links.h"
#include "mcommon.h"
#include "settings.h"

#include <QCoreApplication>
#include <QUrl>

namespace framix {

const QString ShellCommands::kMissingHelpText =
    QStringLiteral("Can not find help file, it may be renamed or damaged. "
                   "Try reinstalling the program.");

ShellCommands::ShellCommands(QWidget* mainWindow, frmvideo* video)
    : m_main(mainWindow), m_video(video)
{
}

void ShellCommands::cmdinfo_Click()
{
    if (m_video != nullptr) {
        const PlayerComponent* player = m_video->MCIWnd1;
        MediaInfo info = player->mediaInfo();
        // The duration the main window's time readout shows at the last position, so the
        // two never disagree.
        if (info.hasVideo && player->length() > 0)
            info.durationMs = player->timeOfPositionMs(player->length());
        frminfo::open(m_main, info, m_video->windowTitle());
    } else
        frminfo::open(m_main, MediaInfo{}, QString());
}

void ShellCommands::mnutip_Click()
{
    if (m_main != nullptr)
        m_main->setEnabled(false);
    if (m_video != nullptr)
        m_video->setEnabled(false);
    // Asking for tips from the menu turns them back on at start-up, and makes sure the
    // window's load does not close it again.
    Settings::setShowTipsAtStartup(1);
    frmTip::open(m_main, m_video);
}

void ShellCommands::mnuabout_Click()
{
    frmAbout::open(m_main);
}

void ShellCommands::mnutopics_Click()
{
    const QString path = helpFilePath();
    if (!FileExists(path)) {
        Desktop::instance().message(m_main, kMissingHelpText, QStringLiteral("Framix"),
                                    Desktop::Icon::Critical);
        return;
    }
    Desktop::instance().openUrl(QUrl::fromLocalFile(path));
}

void ShellCommands::Label1_Click()
{
    Desktop::instance().openUrl(QUrl(QStringLiteral("mailto:") + QLatin1String(kContactAddress)));
}

void ShellCommands::Label3_Click()
{
    Desktop::instance().openUrl(QUrl(QString::fromLatin1(kHomePageUrl)));
}

QString ShellCommands::helpFilePath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/index.htm");
}

} // namespace framix
