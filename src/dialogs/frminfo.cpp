#include "frminfo.h"

#include "mcommon.h"
#include "twipslayout.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>

#include <cmath>

namespace framix {

namespace {

constexpr double kCaptionLeft = 120;
constexpr double kCaptionWidth = 1560;
constexpr double kValueLeft = 1740;
constexpr double kValueWidth = 3420;
constexpr double kRowTop = 120;
constexpr double kRowPitch = 390;
constexpr double kRowHeight = 330;
constexpr double kInnerWidth = kValueLeft + kValueWidth + 120;

} // namespace

frminfo* frminfo::open(QWidget* mainWindow, const MediaInfo& info, const QString& caption)
{
    if (mainWindow != nullptr)
        mainWindow->setEnabled(false);
    auto* window = new frminfo(mainWindow, info, caption);
    window->Form_Load();
    window->show();
    return window;
}

frminfo::frminfo(QWidget* mainWindow, const MediaInfo& info, const QString& windowCaption)
    : QWidget(nullptr, Qt::Dialog), m_main(mainWindow), m_info(info), m_caption(windowCaption)
{
    // Shown without an owner: a child window would be disabled along with the main window.
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Media info..."));

    int row = 0;
    auto addRow = [this, &row](const QString& caption, QWidget* value) {
        auto* label = new QLabel(caption, this);
        placeTwips(label, kCaptionLeft, kRowTop + row * kRowPitch, kCaptionWidth, kRowHeight);
        value->setParent(this);
        placeTwips(value, kValueLeft, kRowTop + row * kRowPitch, kValueWidth, kRowHeight);
        ++row;
    };
    auto valueLabel = [] {
        auto* label = new QLabel;
        // Codec names and file types come from the file; never read them as markup.
        label->setTextFormat(Qt::PlainText);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        return label;
    };

    txtfile = new QLineEdit;
    txtfile->setReadOnly(true);
    lbllength = valueLabel();
    lblsize = valueLabel();
    lbltype = valueLabel();
    lblpicture = valueLabel();
    lblrate = valueLabel();
    lblduration = valueLabel();
    lblvideo = valueLabel();
    lblaudio = valueLabel();
    addRow(QStringLiteral("File Name :-"), txtfile);
    addRow(QStringLiteral("Total Length :-"), lbllength);
    addRow(QStringLiteral("File Size :-"), lblsize);
    addRow(QStringLiteral("Media Type :-"), lbltype);
    addRow(QStringLiteral("Picture Size :-"), lblpicture);
    addRow(QStringLiteral("Frame Rate :-"), lblrate);
    addRow(QStringLiteral("Duration :-"), lblduration);
    addRow(QStringLiteral("Video Codec :-"), lblvideo);
    addRow(QStringLiteral("Audio Codec :-"), lblaudio);

    cmdok = new QPushButton(QStringLiteral("&OK"), this);
    const double okTop = kRowTop + row * kRowPitch + 60;
    placeTwips(cmdok, kCaptionLeft, okTop, kInnerWidth - 2 * kCaptionLeft, 405);
    // Enter presses OK: the window has no text to type into.
    cmdok->setAutoDefault(true);
    cmdok->setFocus();
    connect(cmdok, &QPushButton::clicked, this, &QWidget::close);
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this,
            &QWidget::close);

    setFixedSize(twips::toPixels(kInnerWidth), twips::toPixels(okTop + 405 + 120));
}

void frminfo::Form_Load()
{
    const MediaInfo& info = m_info;
    const std::optional<qint64> size = fileSize(info.path);
    txtfile->setText(m_caption);
    lbllength->setText(QString::number(info.path.isEmpty() ? 0 : info.frameCount) +
                       QStringLiteral(" Frames"));
    // A file deleted or moved since it was opened still plays from what the player holds;
    // its size is left blank rather than shown as a wrong number.
    lblsize->setText(size ? QString::number(kilobytes(*size)) + QStringLiteral(" KB") : QString());
    lbltype->setText(info.path.isEmpty() ? QString() : info.mediaType());

    const QString none = QStringLiteral("none");
    QString picture = QStringLiteral("%1 x %2 pixels").arg(info.width).arg(info.height);
    // Shown and saved upright: say so, since other tools may show the stored picture.
    if (info.rotation != 0)
        picture += QStringLiteral(", turned %1%2").arg(info.rotation).arg(QChar(0x00b0));
    if (info.mirrored)
        picture +=
            info.rotation != 0 ? QStringLiteral(" and mirrored") : QStringLiteral(", mirrored");
    lblpicture->setText(info.hasVideo ? picture : none);
    lblpicture->setToolTip(info.hasVideo && (info.rotation != 0 || info.mirrored)
                               ? QStringLiteral("Stored as %1 x %2 pixels")
                                     .arg(info.storedWidth)
                                     .arg(info.storedHeight)
                               : QString());
    lblrate->setText(info.hasVideo && info.frameRate > 0
                         ? QString::number(info.frameRate, 'g', 5) + QStringLiteral(" frames/s")
                         : none);
    lblduration->setText(TimeText(info.durationMs));
    QString video = info.videoCodec;
    if (info.videoStreams.size() > 1)
        video += QStringLiteral(" (stream %1 of %2 video streams)")
                     .arg(info.videoStream)
                     .arg(info.videoStreams.size());
    lblvideo->setText(info.hasVideo ? video : none);
    lblaudio->setText(info.hasAudio ? info.audioCodec : none);
}

std::optional<qint64> frminfo::fileSize(const QString& path)
{
    if (path.isEmpty())
        return std::nullopt;
    const QFileInfo file(path);
    if (!file.exists() || file.isDir())
        return std::nullopt;
    return file.size();
}

qint64 frminfo::kilobytes(qint64 bytes)
{
    const double exact = static_cast<double>(bytes) / 1024.0;
    const double below = std::floor(exact);
    const double fraction = exact - below;
    auto whole = static_cast<qint64>(below);
    if (fraction > 0.5 || (fraction == 0.5 && whole % 2 != 0))
        ++whole;
    return whole;
}

void frminfo::closeEvent(QCloseEvent* event)
{
    if (m_main != nullptr)
        m_main->setEnabled(true);
    QWidget::closeEvent(event);
}

} // namespace framix
