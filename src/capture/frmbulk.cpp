#include "frmbulk.h"

#include "atomicfile.h"
#include "capturecommands.h"
#include "captureplayer.h"
#include "desktop.h"
#include "filepaths.h"
#include "framegrabber.h"
#include "framelist.h"
#include "framenamer.h"
#include "framespinbox.h"
#include "frmdir.h"
#include "imagewritepool.h"
#include "mcommon.h"
#include "outputguard.h"
#include "scenescan.h"
#include "settings.h"
#include "sharedstate.h"

#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QDoubleSpinBox>
#include <QEventLoop>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QShortcut>
#include <QSlider>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <atomic>
#include <cmath>
#include <iterator>
#include <thread>

namespace framix {

namespace {

constexpr auto kTitle = "Tavrino";

// The output types in the order of the list; the first is the default.
struct OutputType
{
    const char* caption;
    const char* key; // how the settings name it
    ImageFormat format;
    int depth = 8;      // 16: 16 bits per channel for frames of more than 8 bits
    bool lossy = false; // written at the quality in spnquality
    const char* tip = "";
};
constexpr OutputType kTypes[] = {
    {"Bitmap Image (*.bmp)", "bmp", ImageFormat::Bmp},
    {"PNG Image (*.png)", "png", ImageFormat::Png},
    {"PNG Image, 16-bit (*.png)", "png16", ImageFormat::Png, 16, false,
     "16 bits per channel for videos of more than 8 bits per component (10-bit and more); "
     "other videos are written with 8"},
    {"JPEG Image (*.jpg)", "jpg", ImageFormat::Jpeg, 8, true},
    {"TIFF Image (*.tiff)", "tiff", ImageFormat::Tiff},
    {"WebP Image (*.webp)", "webp", ImageFormat::WebP, 8, true},
    {"WebP Image, lossless (*.webp)", "webp-lossless", ImageFormat::WebP},
};

// "0:42" or "1:02:03".
QString durationText(qint64 seconds)
{
    const qint64 h = seconds / 3600, m = seconds / 60 % 60, sec = seconds % 60;
    const QString mmss = QStringLiteral("%1:%2")
                             .arg(m, h > 0 ? 2 : 1, 10, QLatin1Char('0'))
                             .arg(sec, 2, 10, QLatin1Char('0'));
    return h > 0 ? QString::number(h) + QLatin1Char(':') + mmss : mmss;
}

QSlider* positionSlider(QWidget* parent)
{
    auto* s = new QSlider(Qt::Horizontal, parent);
    s->setToolTip(QStringLiteral("Media Position..."));
    JumpToClicks(s);
    return s;
}

} // namespace

frmbulk::frmbulk(const MainControls& main, CapturePlayer* player, QWidget* parent)
    : QWidget(parent, Qt::Window), m_main(main), m_player(player)
{
    setWindowTitle(QStringLiteral("Framix (Bulk Capture)"));
    txtfile = new QLineEdit(this);
    txtfile->setReadOnly(true);
    txtout = new QLineEdit(this);
    cmddir = new QPushButton(QStringLiteral("..."), this);
    cmddir->setToolTip(QStringLiteral("Open Directory List"));
    lsttypes = new QListWidget(this);
    for (const OutputType& type : kTypes) {
        lsttypes->addItem(QString::fromLatin1(type.caption));
        lsttypes->item(lsttypes->count() - 1)->setToolTip(QString::fromLatin1(type.tip));
    }
    lsttypes->setCurrentRow(0);
    lsttypes->setMaximumHeight(lsttypes->sizeHintForRow(0) * int(std::size(kTypes)) + 6);
    lblquality = new QLabel(QStringLiteral("&Quality:"), this);
    spnquality = new QSpinBox(this);
    spnquality->setRange(1, 100);
    spnquality->setValue(Settings::jpegQuality());
    spnquality->setToolTip(QStringLiteral("JPEG quality, 1 to 100"));
    lblquality->setBuddy(spnquality);
    txtname = new QLineEdit(QString::fromLatin1(FrameNamer::kDefaultTemplate), this);
    txtname->setToolTip(QStringLiteral(
        "The name of each frame's file, before the type's extension: {frame} is the frame "
        "number, {frame:06} the same with zeros in front up to 6 digits, {name} the video's "
        "name and {time} the frame's time (HH-MM-SS.mmm)"));
    lblname = new QLabel(this);
    lblname->setTextFormat(Qt::PlainText);
    Frame1 = new QGroupBox(QStringLiteral("Capture &Settings:"), this);
    Option1 = new QRadioButton(QStringLiteral("Full Video Capture"), Frame1);
    Option2 = new QRadioButton(QStringLiteral("&From To Capture"), Frame1);
    sldfrom = positionSlider(Frame1);
    spnfrom = new FrameSpinBox(Frame1);
    sldto = positionSlider(Frame1);
    spnto = new FrameSpinBox(Frame1);
    for (FrameSpinBox* box : {spnfrom, spnto}) {
        box->setToolTip(QStringLiteral("A frame number, or a time as h:mm:ss.mmm"));
        box->setTimeToFrame([this](qint64 ms) -> std::optional<int> {
            // Times are those of Go to Frame: up to the end of the last frame.
            if (ms >= m_player->timeOfPositionMs(m_main.Slider1->maximum()))
                return std::nullopt;
            return m_player->positionAtTimeMs(ms);
        });
    }
    lblfrom = new QLabel(QStringLiteral("From"), Frame1);
    lblto = new QLabel(QStringLiteral("To"), Frame1);
    Frame2 = new QGroupBox(QStringLiteral("Frames to Save:"), this);
    optall = new QRadioButton(QStringLiteral("&All frames"), Frame2);
    optevery = new QRadioButton(QStringLiteral("&Every Nth frame, N:"), Frame2);
    spnevery = new QSpinBox(Frame2);
    spnevery->setRange(2, 1000000);
    spnevery->setValue(10);
    optkey = new QRadioButton(QStringLiteral("&Keyframes only"), Frame2);
    optscenes = new QRadioButton(QStringLiteral("Scene c&hanges, threshold:"), Frame2);
    spnscene = new QDoubleSpinBox(Frame2);
    spnscene->setRange(0.01, 0.99);
    spnscene->setSingleStep(0.05);
    spnscene->setValue(SceneDetector::kDefaultThreshold);
    spnscene->setToolTip(QStringLiteral("How different a picture must be from the one before "
                                        "it to start a new scene (0 to 1)"));
    chkcsv = new QCheckBox(
        QStringLiteral("Write a frame &list (%1)").arg(QLatin1String(kFrameListName)), this);
    chkcsv->setToolTip(QStringLiteral("Frame number, time, timestamp, keyframe, picture type "
                                      "and file name of every frame written"));
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setTextVisible(false);
    Label2 = new QLabel(QStringLiteral("Capturing Frame: "), this);
    cmdcapture = new QPushButton(QStringLiteral("&Begin Capture"), this);
    cmdcapture->setToolTip(QStringLiteral("Begin frame capture..."));
    cmdcancel = new QPushButton(QStringLiteral("&Cancel Capture"), this);
    cmdcancel->setToolTip(QStringLiteral("Cancel Capture process"));
    cmdopen = new QPushButton(QStringLiteral("&Open Folder"), this);
    cmdopen->setToolTip(QStringLiteral("Show the folder of the last capture in the file manager"));

    auto* frame = new QGridLayout(Frame1);
    frame->addWidget(Option1, 0, 0, 1, 2);
    frame->addWidget(Option2, 1, 0, 1, 2);
    frame->addWidget(lblfrom, 2, 0);
    frame->addWidget(sldfrom, 2, 1);
    frame->addWidget(spnfrom, 2, 2);
    frame->addWidget(lblto, 3, 0);
    frame->addWidget(sldto, 3, 1);
    frame->addWidget(spnto, 3, 2);
    lblfrom->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("From 0000000")));

    auto* choice = new QGridLayout(Frame2);
    choice->addWidget(optall, 0, 0, 1, 2);
    choice->addWidget(optevery, 1, 0);
    choice->addWidget(spnevery, 1, 1);
    choice->addWidget(optkey, 2, 0, 1, 2);
    choice->addWidget(optscenes, 3, 0);
    choice->addWidget(spnscene, 3, 1);

    auto* grid = new QGridLayout(this);
    auto* movieLabel = new QLabel(QStringLiteral("Selected Movie:"), this);
    auto* outLabel = new QLabel(QStringLiteral("Output &Directory:"), this);
    outLabel->setBuddy(txtout);
    auto* typeLabel = new QLabel(QStringLiteral("Output &Type:"), this);
    typeLabel->setBuddy(lsttypes);
    grid->addWidget(movieLabel, 0, 0);
    grid->addWidget(txtfile, 0, 1, 1, 2);
    grid->addWidget(outLabel, 1, 0);
    grid->addWidget(txtout, 1, 1);
    grid->addWidget(cmddir, 1, 2);
    grid->addWidget(typeLabel, 2, 0);
    grid->addWidget(lsttypes, 2, 1, 1, 2);
    auto* quality = new QHBoxLayout;
    quality->addWidget(lblquality);
    quality->addWidget(spnquality);
    quality->addStretch();
    quality->addWidget(chkcsv);
    grid->addLayout(quality, 3, 1, 1, 2);
    auto* nameLabel = new QLabel(QStringLiteral("File &Names:"), this);
    nameLabel->setBuddy(txtname);
    grid->addWidget(nameLabel, 4, 0);
    grid->addWidget(txtname, 4, 1, 1, 2);
    grid->addWidget(lblname, 5, 1, 1, 2);
    auto* settings = new QHBoxLayout;
    settings->addWidget(Frame1, 1);
    settings->addWidget(Frame2, 1);
    grid->addLayout(settings, 6, 0, 1, 3);
    grid->addWidget(ProgressBar1, 7, 0, 1, 3);
    grid->addWidget(Label2, 8, 0, 1, 3);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(cmdopen);
    buttons->addStretch();
    buttons->addWidget(cmdcapture);
    buttons->addWidget(cmdcancel);
    grid->addLayout(buttons, 9, 0, 1, 3);
    resize(640, sizeHint().height());

    connect(cmdcapture, &QPushButton::clicked, this, &frmbulk::cmdcapture_Click);
    connect(cmdcancel, &QPushButton::clicked, this, &frmbulk::cmdcancel_Click);
    connect(cmddir, &QPushButton::clicked, this, &frmbulk::cmddir_Click);
    connect(cmdopen, &QPushButton::clicked, this, &frmbulk::cmdopen_Click);
    connect(txtname, &QLineEdit::textChanged, this, &frmbulk::txtname_Change);
    connect(lsttypes, &QListWidget::itemClicked, this, &frmbulk::lsttypes_Click);
    // The arrow keys choose a type as well as a click does.
    connect(lsttypes, &QListWidget::currentRowChanged, this, &frmbulk::lsttypes_Click);
    // Each lossy type keeps its own quality.
    connect(spnquality, &QSpinBox::valueChanged, this, [this](int q) {
        m_format == ImageFormat::WebP ? Settings::setWebpQuality(q) : Settings::setJpegQuality(q);
    });
    for (QRadioButton* option : {optall, optevery, optkey, optscenes})
        connect(option, &QRadioButton::toggled, this, &frmbulk::updateChoiceControls);
    connect(Option1, &QRadioButton::clicked, this, &frmbulk::Option1_Click);
    connect(Option2, &QRadioButton::clicked, this, &frmbulk::Option2_Click);
    connect(sldfrom, &QSlider::valueChanged, this, &frmbulk::sldfrom_Change);
    connect(sldto, &QSlider::valueChanged, this, &frmbulk::sldto_Change);
    // The boxes and the sliders show the same range: either moves the other, and a box
    // takes its slider's limits (sldto's minimum follows sldfrom).
    for (auto [slider, box] : {std::pair{sldfrom, spnfrom}, std::pair{sldto, spnto}}) {
        connect(slider, &QSlider::rangeChanged, box, &QSpinBox::setRange);
        connect(slider, &QSlider::valueChanged, box, &QSpinBox::setValue);
        connect(box, &QSpinBox::valueChanged, slider, &QSlider::setValue);
    }

    // The dialog opens with the whole media chosen, the range controls greyed, and no run.
    Option1->setChecked(true);
    setRangeControlsEnabled(false);
    optall->setChecked(true);
    updateChoiceControls();
    Label2->setEnabled(false);
    cmdcancel->setEnabled(false);
    cmdopen->setEnabled(false);
    // Escape closes the dialog as its window frame does (stopping a run after its frame).
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this,
            &QWidget::close);
    Form_Load();
}

frmbulk::~frmbulk() = default;

void frmbulk::Form_Load()
{
    shared().cancelcapture = false;
    RestoreRepeat = !shared().norepeat;
    shared().norepeat = true;
    m_player->stop();
    m_main.cmdplay1->setVisible(false);
    m_main.cmdplay->setVisible(true);
    txtout->setText(defaultOutputFolder(QCoreApplication::applicationDirPath()));
    OutExt = QStringLiteral(".bmp");
    restoreChoices();
    takeMedia();
    ProgressBar1->setValue(0);
    CurFrame = LastFrame = FirstFrame = 1;
}

void frmbulk::takeMedia()
{
    m_media = m_player->fileName();
    txtfile->setText(shownPath(m_media));
    // The range sliders start on the whole media; moving them moves the player, which
    // setting them up here must not do.
    const QSignalBlocker blockFrom(sldfrom);
    const QSignalBlocker blockTo(sldto);
    sldfrom->setRange(m_main.Slider1->minimum(), m_main.Slider1->maximum());
    sldfrom->setValue(sldfrom->minimum());
    sldto->setRange(qMin(sldfrom->value() + 1, m_main.Slider1->maximum()),
                    m_main.Slider1->maximum());
    sldto->setValue(sldto->maximum());
    lblfrom->setText(QStringLiteral("From ") + QString::number(sldfrom->value()));
    lblto->setText(QStringLiteral("To ") + QString::number(sldto->value()));
    syncRangeBoxes();
    updatePreview();
}

void frmbulk::syncRangeBoxes()
{
    for (auto [slider, box] : {std::pair{sldfrom, spnfrom}, std::pair{sldto, spnto}}) {
        const QSignalBlocker block(box);
        box->setRange(slider->minimum(), slider->maximum());
        box->setValue(slider->value());
    }
}

void frmbulk::restoreChoices()
{
    // A folder that is gone (a removed stick, a deleted folder) is not brought back.
    const QString folder = Settings::bulkFolder();
    if (!folder.isEmpty() && QFileInfo(folder).isDir())
        txtout->setText(folder);
    const QString type = Settings::bulkType();
    for (int row = 0; row < int(std::size(kTypes)); ++row)
        if (type == QLatin1String(kTypes[row].key))
            lsttypes->setCurrentRow(row);
}

bool frmbulk::followMedia()
{
    if (m_player->fileName() == m_media)
        return false;
    takeMedia();
    return true;
}

void frmbulk::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    // The main window or the video window may have opened another file meanwhile (after
    // the folder chooser, or by a drop): back in this dialog, the user sees that file.
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && !m_running)
        followMedia();
}

void frmbulk::setRangeControlsEnabled(bool on)
{
    for (QWidget* w : {static_cast<QWidget*>(lblfrom), static_cast<QWidget*>(lblto),
                       static_cast<QWidget*>(sldfrom), static_cast<QWidget*>(sldto),
                       static_cast<QWidget*>(spnfrom), static_cast<QWidget*>(spnto)})
        w->setEnabled(on);
}

void frmbulk::Option1_Click()
{
    setRangeControlsEnabled(false);
    updatePreview();
}

void frmbulk::Option2_Click()
{
    setRangeControlsEnabled(true);
    sldto->setMinimum(qMin(sldfrom->value() + 1, sldto->maximum()));
    updatePreview();
}

void frmbulk::sldfrom_Change()
{
    m_player->setPosition(sldfrom->value());
    lblfrom->setText(QStringLiteral("From ") + QString::number(sldfrom->value()));
    // At the last frame the range can only be that frame: the end never passes the media.
    sldto->setMinimum(qMin(sldfrom->value() + 1, sldto->maximum()));
    updatePreview();
}

void frmbulk::sldto_Change()
{
    m_player->setPosition(sldto->value());
    lblto->setText(QStringLiteral("To ") + QString::number(sldto->value()));
}

void frmbulk::lsttypes_Click()
{
    const int row = lsttypes->currentRow();
    if (row < 0 || row >= int(std::size(kTypes)))
        return;
    m_type = row;
    m_format = kTypes[row].format;
    OutExt = imageFileExtension(m_format);
    if (kTypes[row].lossy) {
        const bool webp = m_format == ImageFormat::WebP;
        const QSignalBlocker block(spnquality);
        spnquality->setValue(webp ? Settings::webpQuality() : Settings::jpegQuality());
        spnquality->setToolTip(webp ? QStringLiteral("WebP quality, 1 to 100")
                                    : QStringLiteral("JPEG quality, 1 to 100"));
    }
    updateChoiceControls();
}

void frmbulk::updateChoiceControls()
{
    spnquality->setEnabled(kTypes[m_type].lossy);
    lblquality->setEnabled(kTypes[m_type].lossy);
    spnevery->setEnabled(optevery->isChecked());
    spnscene->setEnabled(optscenes->isChecked());
    updatePreview();
}

void frmbulk::txtname_Change()
{
    updatePreview();
}

std::optional<FrameNamer> frmbulk::namer(QString* why) const
{
    const QString pattern = txtname->text();
    // The folder is chosen apart; FrameNamer's own words for this are the command line's.
    if (pattern.contains(QLatin1Char('/'))) {
        *why = tr("the name template '%1' contains a '/': it names files, not folders (the "
                  "folder is the Output Directory)")
                   .arg(pattern);
        return std::nullopt;
    }
    return FrameNamer::parse(pattern, why);
}

QString frmbulk::fileName(const FrameNamer& namer, int n) const
{
    const QString video = QFileInfo(shownPath(m_media)).completeBaseName();
    const qint64 ms = namer.usesTime() ? m_player->timeOfPositionMs(n) : 0;
    return namer.name(n, ms, video) + OutExt;
}

int frmbulk::firstFrameOfRun() const
{
    const int first = Option1->isChecked() ? 0 : sldfrom->value();
    if (!optkey->isChecked())
        return first;
    const int last = Option1->isChecked() ? m_main.Slider1->maximum() : sldto->value();
    const std::vector<FrameIndex::Facts> facts = m_player->frameFacts();
    for (int n = first; n <= last && n < int(facts.size()); ++n)
        if (facts[size_t(n)].key)
            return n;
    return first;
}

void frmbulk::updatePreview()
{
    QString why;
    const std::optional<FrameNamer> names = namer(&why);
    QPalette palette = this->palette();
    if (names) {
        lblname->setText(tr("First file: %1").arg(fileName(*names, firstFrameOfRun())));
    } else {
        lblname->setText(tr("Not usable: %1").arg(why));
        palette.setColor(QPalette::WindowText, QColor(0xb0, 0x00, 0x00));
    }
    lblname->setPalette(palette);
}

bool frmbulk::nameFrames(const FrameNamer& namer, const std::vector<int>& frames,
                         std::vector<QString>* names, QString* failure) const
{
    names->clear();
    names->reserve(frames.size());
    QHash<QString, int> taken; // name -> frame
    for (const int n : frames) {
        QString name = fileName(namer, n);
        const auto other = taken.constFind(name);
        if (other != taken.cend()) {
            *failure = tr("Frames %1 and %2 would both be saved as %3: put {frame} in the file "
                          "names.")
                           .arg(other.value())
                           .arg(n)
                           .arg(name);
            return false;
        }
        taken.insert(name, n);
        names->push_back(std::move(name));
    }
    return true;
}

bool frmbulk::confirmReplace(const QString& folder, const std::vector<QString>& names)
{
    const QDir dir(folder);
    const QStringList entries =
        dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    const QSet<QString> present(entries.cbegin(), entries.cend());
    qsizetype existing = 0;
    for (const QString& name : names)
        existing += present.contains(name) ? 1 : 0;
    if (existing == 0)
        return true;
    const QString text = (existing == 1 ? tr("1 file in %1 will be replaced.")
                                        : tr("%1 files in %2 will be replaced.").arg(existing))
                             .arg(shownPath(folder));
    return Desktop::instance().confirm(this, text, QString::fromLatin1(kTitle), tr("&Replace"),
                                       tr("&Cancel"));
}

void frmbulk::cmddir_Click()
{
    setEnabled(false);
    m_chooser = new frmdir(m_main.frmmain, this);
    // Over this dialog, where the user looks, not where the window manager puts it.
    QRect place(QPoint(), m_chooser->size());
    place.moveCenter(frameGeometry().center());
    m_chooser->move(place.topLeft());
    m_chooser->show();
}

void frmbulk::cmdopen_Click()
{
    if (m_writtenFolder.isEmpty())
        return;
    if (!Desktop::instance().openUrl(QUrl::fromLocalFile(m_writtenFolder)))
        Desktop::instance().message(this,
                                    tr("The folder %1 could not be shown: no file manager took it.")
                                        .arg(shownPath(m_writtenFolder)),
                                    QString::fromLatin1(kTitle), Desktop::Icon::Exclamation);
}

void frmbulk::disable()
{
    cmdcapture->setEnabled(false);
    cmdcancel->setEnabled(true);
    txtout->setEnabled(false);
    cmddir->setEnabled(false);
    Label2->setEnabled(true);
}

void frmbulk::enablex()
{
    cmdcapture->setEnabled(true);
    cmdcancel->setEnabled(false);
    txtout->setEnabled(true);
    cmddir->setEnabled(true);
    Label2->setEnabled(false);
    cmdopen->setEnabled(!m_writtenFolder.isEmpty());
}

void frmbulk::cmdcapture_Click()
{
    if (m_running)
        return;
    // Frames come from the file the dialog names, never from one opened since without it.
    if (followMedia() || m_media.isEmpty()) {
        Desktop::instance().message(
            this,
            m_media.isEmpty()
                ? tr("The video was closed. Open a video and choose Bulk Capture again.")
                : tr("Another video was opened: %1\nThe dialog now names it, with the whole "
                     "of it chosen. Check the frames to capture and begin again.")
                      .arg(shownPath(m_media)),
            QString::fromLatin1(kTitle), Desktop::Icon::Exclamation);
        return;
    }
    QString why;
    const std::optional<FrameNamer> names = namer(&why);
    if (!names) {
        Desktop::instance().message(this, tr("The file names cannot be made: %1.").arg(why),
                                    QString::fromLatin1(kTitle), Desktop::Icon::Exclamation);
        return;
    }
    txtout->setText(ExpandHome(txtout->text()));
    // Nothing is written over the video being captured: not by the frame list, not by a
    // picture whose name it has.
    const QString media = m_player->fileName();
    QString hazard = picturesHazard(txtout->text(), *names, OutExt, media);
    if (hazard.isEmpty() && chkcsv->isChecked()) {
        hazard = outputHazard(QDir(txtout->text()).filePath(QLatin1String(kFrameListName)), media);
        if (!hazard.isEmpty())
            hazard = tr("The frame list cannot be saved there: %1").arg(hazard);
    }
    if (!hazard.isEmpty()) {
        Desktop::instance().message(this, hazard, QString::fromLatin1(kTitle),
                                    Desktop::Icon::Exclamation);
        return;
    }
    if (!DirExists(txtout->text()))
        CreatePath(txtout->text()); // reports its own failure; the first write then fails
    removeStaleTemporaries(txtout->text());
    disable();
    if (Option1->isChecked()) {
        FirstFrame = 0;
        LastFrame = m_main.Slider1->maximum();
        ProgressBar1->setMinimum(0);
        ProgressBar1->setMaximum(LastFrame);
    } else {
        FirstFrame = sldfrom->value();
        LastFrame = sldto->value();
        ProgressBar1->setMaximum(LastFrame);
        ProgressBar1->setMinimum(FirstFrame);
    }
    // A range of one frame (or an empty media) still has a first frame to capture; the
    // end is never before the start.
    LastFrame = qMax(LastFrame, FirstFrame);
    if (ProgressBar1->minimum() == ProgressBar1->maximum())
        ProgressBar1->setMaximum(ProgressBar1->minimum() + 1);

    m_player->setPosition(FirstFrame);

    // Set before the frames are chosen: finding the scene changes serves the event loop, and
    // a close meanwhile must leave the dialog to this handler.
    m_running = true;
    QString failure;
    std::vector<int> frames;
    std::vector<QString> fileNames;
    if (!chooseFrames(&frames, &failure) || !nameFrames(*names, frames, &fileNames, &failure)) {
        endRun(failure);
        return;
    }
    if (!confirmReplace(txtout->text(), fileNames)) {
        enablex();
        endRun(QString());
        return;
    }
    Settings::setBulkFolder(txtout->text());
    Settings::setBulkType(QString::fromLatin1(kTypes[m_type].key));

    const OutputType& type = kTypes[m_type];
    ImageOptions options = captureImageOptions(*m_player, m_format);
    options.quality = type.lossy ? spnquality->value() : -1;
    // Frames of more than 8 bits are written from the decoded frame, not the clipboard's
    // 8-bit picture; tone-mapped first when HDR is shown tone-mapped, as everywhere.
    const bool deep = type.depth == 16;
    options.depth = type.depth;
    options.tonemap = deep && Settings::toneMapHdr();
    // Files are written by worker threads while the next frame is decoded (writing a large
    // frame costs about as much as decoding it); the queue is short, so a failure stops
    // the run within a few frames of the frame that failed.
    ImageWritePool writer(qMax(2, QThread::idealThreadCount()), 3, options);
    bool listing = chkcsv->isChecked();
    const QString folder = txtout->text();
    const std::vector<FrameIndex::Facts> facts =
        listing ? m_player->frameFacts() : std::vector<FrameIndex::Facts>();
    std::vector<FrameListEntry> listed; // a job's tag is its place here
    const quint32 started = Desktop::instance().tickCount();
    for (size_t i = 0; i < frames.size(); ++i) {
        CurFrame = frames[i];
        if (shared().cancelcapture)
            break;
        if (m_player->fileName() != m_media) {
            failure = tr("The capture stopped at frame %1: %2 was closed or another video "
                         "was opened.")
                          .arg(CurFrame)
                          .arg(shownPath(m_media));
            break;
        }
        m_player->setPosition(CurFrame);
        ProgressBar1->setValue(CurFrame);
        if (!m_player->copyFrame()) {
            failure =
                tr("Frame %1 could not be decoded.\n%2").arg(CurFrame).arg(m_player->lastError());
            break;
        }
        const quint32 now = Desktop::instance().tickCount();
        Label2->setText(QStringLiteral("Capturing Frame:") + QString::number(CurFrame) +
                        QStringLiteral("/") + QString::number(LastFrame) +
                        rateText(int(i) + 1, int(frames.size()), now - started));
        const QString path = FrameGrabber::framePath(txtout->text(), fileNames[i]);
        if (listing) {
            FrameListEntry entry;
            entry.frame = CurFrame;
            // The media's last position shows its last frame.
            if (!facts.empty()) {
                const FrameIndex::Facts& f = facts[size_t(qMin(CurFrame, int(facts.size()) - 1))];
                entry.timeMs = f.timeMs;
                entry.pts = f.pts;
                entry.key = f.key;
            }
            entry.type = m_player->copiedPictureType();
            entry.file = QFileInfo(path).fileName();
            listed.push_back(entry);
        }
        if (deep)
            writer.submit(m_player->copiedFrame(), path, int(i));
        else
            writer.submit(QGuiApplication::clipboard()->image(), path, int(i));
        QCoreApplication::processEvents();
        QGuiApplication::clipboard()->clear();
        EngineError error;
        if (writer.failure(&error)) {
            failure = tr("Could not save the frame file\n%1").arg(error.detail);
            break;
        }
        if (i + 1 == frames.size()) {
            if (!writer.finish(&error)) {
                failure = tr("Could not save the frame file\n%1").arg(error.detail);
                break;
            }
            if (listing && !writeFrameList(folder, writer, listed, &failure))
                break;
            m_writtenFolder = folder;
            enablex();
            Desktop::instance().message(
                this,
                QStringLiteral("The frames have been captured and saved in the desired location"),
                QString::fromLatin1(kTitle), Desktop::Icon::Information);
            listing = false; // written
        }
        if (shared().cancelcapture)
            break;
    }
    // Every frame handed to the writers is complete on disk before the run is over, and the
    // list names those that are, also when the run stopped early.
    EngineError error;
    if (!writer.finish(&error) && failure.isEmpty())
        failure = tr("Could not save the frame file\n%1").arg(error.detail);
    if (writer.written() > 0)
        m_writtenFolder = folder;
    if (listing && !listed.empty()) {
        QString listFailure;
        if (!writeFrameList(folder, writer, listed, &listFailure) && failure.isEmpty())
            failure = listFailure;
    }
    endRun(failure);
}

void frmbulk::endRun(const QString& failure)
{
    m_running = false;
    if (!failure.isEmpty()) {
        enablex();
        Desktop::instance().message(this, failure, QString::fromLatin1(kTitle),
                                    Desktop::Icon::Exclamation);
    }
    if (m_closed)
        deleteLater(); // closed during the run: safe to go now that the run is over
}

bool frmbulk::chooseFrames(std::vector<int>* frames, QString* failure)
{
    frames->clear();
    if (optscenes->isChecked())
        return findScenes(frames, failure);
    if (optkey->isChecked()) {
        const std::vector<FrameIndex::Facts> facts = m_player->frameFacts();
        for (int n = FirstFrame; n <= LastFrame && n < int(facts.size()); ++n)
            if (facts[size_t(n)].key)
                frames->push_back(n);
        if (frames->empty())
            *failure =
                tr("There is no keyframe among frames %1 to %2.").arg(FirstFrame).arg(LastFrame);
        return !frames->empty();
    }
    const qint64 step = optevery->isChecked() ? spnevery->value() : 1;
    for (qint64 n = FirstFrame; n <= LastFrame; n += step)
        frames->push_back(int(n));
    return true;
}

bool frmbulk::findScenes(std::vector<int>* frames, QString* failure)
{
    // The scene search decodes every frame of the range; it runs on a worker thread while
    // the dialog shows how far it got and Cancel or a close stop it.
    std::atomic_bool stop{false};
    std::atomic_int done{0};
    std::atomic_bool finished{false};
    std::optional<std::vector<int>> found;
    EngineError error;
    SceneScan scan;
    scan.input = m_player->fileName();
    scan.video = m_player->videoOptions();
    // The last position of the media shows the last frame; the scene search counts frames.
    const int frameCount = int(m_player->mediaInfo().frameCount);
    scan.from = qMin(FirstFrame, qMax(0, frameCount - 1));
    scan.to = qMin(LastFrame, frameCount - 1);
    scan.threshold = spnscene->value();
    scan.cancel = &stop;
    scan.progress = [&done](int n, int) { done = n; };
    std::thread worker([&] {
        found = scan.run(&error);
        finished = true;
    });
    QEventLoop wait;
    QTimer poll;
    const auto show = [&] {
        if (shared().cancelcapture)
            stop = true;
        const int n = FirstFrame + qMax(0, done.load() - 1);
        ProgressBar1->setValue(n);
        Label2->setText(QStringLiteral("Finding Scene Changes:") + QString::number(n) +
                        QStringLiteral("/") + QString::number(LastFrame));
        if (finished)
            wait.quit();
    };
    connect(&poll, &QTimer::timeout, &wait, show);
    poll.start(50);
    show();
    if (!finished)
        wait.exec();
    worker.join();
    if (found) {
        *frames = std::move(*found);
        return !frames->empty();
    }
    // The search reads the file afresh, by its name.
    if (error.code == EngineError::Code::NotFound)
        *failure = tr("The scene changes could not be found: %1 was moved or deleted since it "
                      "was opened.")
                       .arg(shownPath(m_player->fileName()));
    else if (error.code != EngineError::Code::Cancelled)
        *failure = tr("The scene changes could not be found.\n%1").arg(error.message());
    return false;
}

bool frmbulk::writeFrameList(const QString& folder, const ImageWritePool& writer,
                             const std::vector<FrameListEntry>& listed, QString* failure)
{
    EngineError error;
    const QString path = QDir(folder).filePath(QLatin1String(kFrameListName));
    if (writeFileAtomically(path, frameListCsv(listed, writer.writtenTags()), &error))
        return true;
    *failure = tr("Could not save the frame list\n%1").arg(error.detail);
    return false;
}

QString frmbulk::rateText(int done, int total, quint32 ms)
{
    // The first frames say little about the pace of the run.
    if (done < 2 || ms < 100)
        return QString();
    const double rate = done * 1000.0 / ms;
    const qint64 left = qint64(std::ceil((total - done) / rate));
    return QStringLiteral("  (%1 frames/s, %2 left)")
        .arg(QString::number(rate, 'f', rate < 10 ? 1 : 0), durationText(left));
}

void frmbulk::cmdcancel_Click()
{
    shared().cancelcapture = true;
    close();
}

void frmbulk::closeEvent(QCloseEvent* event)
{
    if (m_closed) {
        event->accept();
        return;
    }
    Form_QueryUnload();
    event->accept();
}

void frmbulk::Form_QueryUnload()
{
    shared().cancelcapture = true;
    if (RestoreRepeat)
        shared().norepeat = false;
    m_main.frmmain->setEnabled(true);
    m_closed = true;
    // A run in progress is inside this dialog's own handler: it deletes the dialog when it
    // returns.
    if (!m_running)
        deleteLater();
}

QString frmbulk::defaultOutputFolder(const QString& programDir)
{
    // The program's own folder when it runs from one of the user's own (a build, an
    // unpacked copy) that frames can be written to. An installed program's folder belongs
    // to the system (the package manager's under /usr, /opt, ...): nothing is written
    // there, by any user, root included; frames go to the user's pictures folder.
    const QString dir = QDir::cleanPath(programDir);
    bool system = false;
    for (const char* prefix : {"/usr", "/opt", "/bin", "/sbin", "/lib", "/snap", "/app", "/nix"})
        system = system || dir == QLatin1String(prefix) ||
                 dir.startsWith(QLatin1String(prefix) + QLatin1Char('/'));
    QTemporaryFile probe(programDir + QStringLiteral("/.framix-XXXXXX"));
    if (!system && probe.open())
        return programDir + QStringLiteral("/");
    QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (pictures.isEmpty())
        pictures = QDir::homePath() + QStringLiteral("/Pictures");
    return pictures + QStringLiteral("/Framix/");
}

} // namespace framix
