#include "capturecommands.h"

#include "desktop.h"
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
    // The qualities Bulk Capture keeps: a typed .webp is lossy at its WebP quality, as its
    // "WebP Image" type (the lossless one is its own type there).
    if (format == ImageFormat::Jpeg)
        options.quality = Settings::jpegQuality();
    else if (format == ImageFormat::WebP)
        options.quality = Settings::webpQuality();
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
    // The dialog opens where the last frame was saved, and a name whose ending is no type
    // a frame can be saved as is asked for again rather than given other bytes.
    QString name;
    QString path;
    for (;;) {
        path = FileDialog(m_main.frmmain, true, QStringLiteral("Save Frame As..."),
                          QString::fromLatin1(kSaveFilter), name, QStringLiteral("bmp"),
                          lastSaveFolder());
        if (path.isEmpty())
            return;
        const QString suffix = QFileInfo(path).suffix();
        if (suffix.isEmpty() || imageFormatFromName(suffix))
            break;
        Desktop::instance().message(
            m_main.frmmain,
            QStringLiteral("\"%1\" names a type Framix cannot save. A frame is saved as a "
                           ".bmp, .png, .jpg, .tiff or .webp file: give the name one of these "
                           "endings.")
                .arg(QFileInfo(path).fileName()),
            QStringLiteral("Save Frame As..."), Desktop::Icon::Exclamation);
        name = QFileInfo(path).completeBaseName() + QStringLiteral(".bmp");
    }
    Settings::setSaveFolder(QFileInfo(path).absolutePath());
    QString why;
    if (!saveClipboardPicture(*m_player, path, &why)) {
        ShowFailure(m_main.lblstate, QStringLiteral("not saved"), why);
        return; // the frame stays on the clipboard
    }
    // A failure shown from an earlier try is over.
    if (!m_main.lblstate->toolTip().isEmpty()) {
        m_main.lblstate->setText(m_player->mode());
        m_main.lblstate->setToolTip(QString());
    }
    QCoreApplication::processEvents();
    QGuiApplication::clipboard()->clear();
}

QString CaptureCommands::lastSaveFolder()
{
    const QString folder = Settings::saveFolder();
    return !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : QString();
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
