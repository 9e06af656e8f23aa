#include "capturecommands.h"

#include "bmpwriter.h"
#include "frmbulk.h"
#include "mcommon.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QLoggingCategory>

namespace framix {

Q_LOGGING_CATEGORY(lcCapture, "framix.capture", QtWarningMsg)

CaptureCommands::CaptureCommands(const MainControls& main, CapturePlayer* player)
    : m_main(main), m_player(player)
{
}

bool saveClipboardPicture(const QString& path, QString* why)
{
    const QImage picture = QGuiApplication::clipboard()->image();
    if (picture.isNull()) {
        if (why)
            *why = QStringLiteral("the clipboard holds no picture");
        return false;
    }
    EngineError error;
    if (!BmpWriter::save(picture, path, &error)) {
        if (why)
            *why = error.detail;
        return false;
    }
    return true;
}

void CaptureCommands::mnucapture_Click()
{
    // Any step that fails ends the command there, without a message.
    if (m_player->isPlaying())
        m_player->pause();
    m_player->normalSize();
    QCoreApplication::processEvents();
    if (!m_player->copyFrame()) {
        ShowFailure(m_main.lblstate, QStringLiteral("not captured"), m_player->lastError());
        return;
    }
    const QString path = FileDialog(m_main.frmmain, true, QStringLiteral("Save Frame As..."),
                                    QStringLiteral("Bitmap Files (*.bmp)|*.bmp|"), QString(),
                                    QStringLiteral("bmp"), QString());
    if (path.isEmpty())
        return;
    QString why;
    if (!saveClipboardPicture(path, &why)) {
        ShowFailure(m_main.lblstate, QStringLiteral("not saved"), why);
        return; // the frame stays on the clipboard
    }
    QCoreApplication::processEvents();
    QGuiApplication::clipboard()->clear();
}

void CaptureCommands::cmdcapture_Click()
{
    m_player->normalSize();
    mnucapture_Click();
}

void CaptureCommands::mnubulk_Click()
{
    m_main.frmmain->setEnabled(false);
    if (m_main.lblstate->text() == QLatin1String("playing"))
        m_player->pause();
    m_bulk = new frmbulk(m_main, m_player);
    m_bulk->show();
}

} // namespace framix
