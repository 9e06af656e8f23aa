#include "capturecommands.h"

#include "frmbulk.h"
#include "mcommon.h"
#include "settings.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLoggingCategory>

namespace framix {

Q_LOGGING_CATEGORY(lcCapture, "framix.capture", QtWarningMsg)

namespace {

// The types a frame can be saved as, bitmap first; the one chosen in the list gives a name
// typed without an extension its extension.
constexpr auto kSaveFilter = "Bitmap Files (*.bmp)|*.bmp|PNG Files (*.png)|*.png|"
                             "JPEG Files (*.jpg;*.jpeg)|*.jpg;*.jpeg|"
                             "TIFF Files (*.tiff;*.tif)|*.tiff;*.tif|WebP Files (*.webp)|*.webp|";

} // namespace

CaptureCommands::CaptureCommands(const MainControls& main, CapturePlayer* player)
    : m_main(main), m_player(player)
{
}

ImageOptions captureImageOptions(const CapturePlayer& player, ImageFormat format)
{
    ImageOptions options;
    options.format = format;
    if (format == ImageFormat::Jpeg)
        options.quality = Settings::jpegQuality();
    options.displayShape = Settings::captureDisplayShape();
    const MediaInfo info = player.mediaInfo();
    options.sarNum = info.sampleAspectNum;
    options.sarDen = info.sampleAspectDen;
    return options;
}

bool saveClipboardPicture(const CapturePlayer& player, const QString& path, QString* why)
{
    const QImage picture = QGuiApplication::clipboard()->image();
    if (picture.isNull()) {
        if (why)
            *why = QStringLiteral("the clipboard holds no picture");
        return false;
    }
    const ImageFormat format =
        imageFormatFromName(QFileInfo(path).suffix()).value_or(ImageFormat::Bmp);
    EngineError error;
    if (!ImageWriter(captureImageOptions(player, format)).save(picture, path, &error)) {
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
    const QString path =
        FileDialog(m_main.frmmain, true, QStringLiteral("Save Frame As..."),
                   QString::fromLatin1(kSaveFilter), QString(), QStringLiteral("bmp"), QString());
    if (path.isEmpty())
        return;
    QString why;
    if (!saveClipboardPicture(*m_player, path, &why)) {
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
