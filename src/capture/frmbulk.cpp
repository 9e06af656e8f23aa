#include "frmbulk.h"

#include "bmpwritepool.h"
#include "captureplayer.h"
#include "desktop.h"
#include "framegrabber.h"
#include "frmdir.h"
#include "mcommon.h"
#include "sharedstate.h"

#include <QClipboard>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QThread>

namespace framix {

namespace {

constexpr auto kTitle = "Tavrino";

QSlider* positionSlider(QWidget* parent)
{
    auto* s = new QSlider(Qt::Horizontal, parent);
    s->setToolTip(QStringLiteral("Media Position..."));
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
    lsttypes->addItem(QStringLiteral("Bitmap Image (*.bmp)"));
    lsttypes->setCurrentRow(0);
    lsttypes->setMaximumHeight(lsttypes->sizeHintForRow(0) * 2 + 6);
    Frame1 = new QGroupBox(QStringLiteral("Capture &Settings:"), this);
    Option1 = new QRadioButton(QStringLiteral("Full Video Capture"), Frame1);
    Option2 = new QRadioButton(QStringLiteral("&From To Capture"), Frame1);
    sldfrom = positionSlider(Frame1);
    sldto = positionSlider(Frame1);
    lblfrom = new QLabel(QStringLiteral("From"), Frame1);
    lblto = new QLabel(QStringLiteral("To"), Frame1);
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setTextVisible(false);
    Label2 = new QLabel(QStringLiteral("Capturing Frame: "), this);
    cmdcapture = new QPushButton(QStringLiteral("&Begin Capture"), this);
    cmdcapture->setToolTip(QStringLiteral("Begin frame capture..."));
    cmdcancel = new QPushButton(QStringLiteral("&Cancel Capture"), this);
    cmdcancel->setToolTip(QStringLiteral("Cancel Capture process"));

    auto* frame = new QGridLayout(Frame1);
    frame->addWidget(Option1, 0, 0, 1, 2);
    frame->addWidget(Option2, 1, 0, 1, 2);
    frame->addWidget(lblfrom, 2, 0);
    frame->addWidget(sldfrom, 2, 1);
    frame->addWidget(lblto, 3, 0);
    frame->addWidget(sldto, 3, 1);
    lblfrom->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("From 0000000")));

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
    grid->addWidget(Frame1, 3, 0, 1, 3);
    grid->addWidget(ProgressBar1, 4, 0, 1, 3);
    grid->addWidget(Label2, 5, 0, 1, 3);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdcapture);
    buttons->addWidget(cmdcancel);
    grid->addLayout(buttons, 6, 0, 1, 3);
    resize(520, sizeHint().height());

    connect(cmdcapture, &QPushButton::clicked, this, &frmbulk::cmdcapture_Click);
    connect(cmdcancel, &QPushButton::clicked, this, &frmbulk::cmdcancel_Click);
    connect(cmddir, &QPushButton::clicked, this, &frmbulk::cmddir_Click);
    connect(lsttypes, &QListWidget::itemClicked, this, &frmbulk::lsttypes_Click);
    connect(Option1, &QRadioButton::clicked, this, &frmbulk::Option1_Click);
    connect(Option2, &QRadioButton::clicked, this, &frmbulk::Option2_Click);
    connect(sldfrom, &QSlider::valueChanged, this, &frmbulk::sldfrom_Change);
    connect(sldto, &QSlider::valueChanged, this, &frmbulk::sldto_Change);

    // The dialog opens with the whole media chosen, the range controls greyed, and no run.
    Option1->setChecked(true);
    setRangeControlsEnabled(false);
    Label2->setEnabled(false);
    cmdcancel->setEnabled(false);
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
    txtfile->setText(m_player->fileName());
    txtout->setText(defaultOutputFolder(QCoreApplication::applicationDirPath()));
    OutExt = QStringLiteral(".bmp");
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
    ProgressBar1->setValue(0);
    CurFrame = LastFrame = FirstFrame = 1;
}

void frmbulk::setRangeControlsEnabled(bool on)
{
    for (QWidget* w : {static_cast<QWidget*>(lblfrom), static_cast<QWidget*>(lblto),
                       static_cast<QWidget*>(sldfrom), static_cast<QWidget*>(sldto)})
        w->setEnabled(on);
}

void frmbulk::Option1_Click()
{
    setRangeControlsEnabled(false);
}

void frmbulk::Option2_Click()
{
    setRangeControlsEnabled(true);
    sldto->setMinimum(qMin(sldfrom->value() + 1, sldto->maximum()));
}

void frmbulk::sldfrom_Change()
{
    m_player->setPosition(sldfrom->value());
    lblfrom->setText(QStringLiteral("From ") + QString::number(sldfrom->value()));
    // At the last frame the range can only be that frame: the end never passes the media.
    sldto->setMinimum(qMin(sldfrom->value() + 1, sldto->maximum()));
}

void frmbulk::sldto_Change()
{
    m_player->setPosition(sldto->value());
    lblto->setText(QStringLiteral("To ") + QString::number(sldto->value()));
}

void frmbulk::lsttypes_Click()
{
    if (lsttypes->currentRow() == 0)
        OutExt = QStringLiteral(".bmp");
}

void frmbulk::cmddir_Click()
{
    setEnabled(false);
    m_chooser = new frmdir(m_main.frmmain, this);
    m_chooser->show();
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
}

void frmbulk::cmdcapture_Click()
{
    if (m_running)
        return;
    txtout->setText(ExpandHome(txtout->text()));
    if (!DirExists(txtout->text()))
        CreatePath(txtout->text()); // reports its own failure; the first write then fails
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

    // Files are written by worker threads while the next frame is decoded (writing a large
    // frame costs about as much as decoding it); the queue is short, so a failure stops
    // the run within a few frames of the frame that failed.
    BmpWritePool writer(qMax(2, QThread::idealThreadCount()), 3);
    m_running = true;
    QString failure;
    const int last = LastFrame;
    for (CurFrame = FirstFrame; CurFrame <= last; ++CurFrame) {
        if (shared().cancelcapture)
            break;
        m_player->setPosition(CurFrame);
        ProgressBar1->setValue(CurFrame);
        if (!m_player->copyFrame()) {
            failure =
                tr("Frame %1 could not be decoded.\n%2").arg(CurFrame).arg(m_player->lastError());
            break;
        }
        Label2->setText(QStringLiteral("Capturing Frame:") + QString::number(CurFrame) +
                        QStringLiteral("/") + QString::number(LastFrame));
        const QString path = FrameGrabber::frameFileName(txtout->text(), CurFrame, OutExt);
        writer.submit(QGuiApplication::clipboard()->image(), path);
        QCoreApplication::processEvents();
        QGuiApplication::clipboard()->clear();
        EngineError error;
        if (writer.failure(&error)) {
            failure = tr("Could not save the frame file\n%1").arg(error.detail);
            break;
        }
        if (CurFrame == LastFrame) {
            if (!writer.finish(&error)) {
                failure = tr("Could not save the frame file\n%1").arg(error.detail);
                break;
            }
            enablex();
            Desktop::instance().message(
                this,
                QStringLiteral("The frames have been captured and saved in the desired location"),
                QString::fromLatin1(kTitle), Desktop::Icon::Information);
        }
        if (shared().cancelcapture)
            break;
    }
    // Every frame handed to the writers is complete on disk before the run is over.
    EngineError error;
    if (!writer.finish(&error) && failure.isEmpty())
        failure = tr("Could not save the frame file\n%1").arg(error.detail);
    m_running = false;
    if (!failure.isEmpty()) {
        enablex();
        Desktop::instance().message(this, failure, QString::fromLatin1(kTitle),
                                    Desktop::Icon::Exclamation);
    }
    if (m_closed)
        deleteLater(); // closed during the run: safe to go now that the run is over
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
    // The program's own folder, as long as frames can be written there; an installed
    // program's folder cannot be, and the user's pictures folder is where they then go.
    QTemporaryFile probe(programDir + QStringLiteral("/.framix-XXXXXX"));
    if (probe.open())
        return programDir + QStringLiteral("/");
    QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (pictures.isEmpty())
        pictures = QDir::homePath() + QStringLiteral("/Pictures");
    return pictures + QStringLiteral("/Framix/");
}

} // namespace framix
