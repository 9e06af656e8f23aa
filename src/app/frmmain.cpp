#include "frmmain.h"

#include "captureplayer.h"
#include "clickablelabel.h"
#include "frmvideo.h"
#include "links.h"
#include "mcommon.h"
#include "recentfilesmenu.h"
#include "settings.h"
#include "sharedstate.h"
#include "twips.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLoggingCategory>
#include <QMenuBar>
#include <QMimeData>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QStyle>

namespace framix {

Q_LOGGING_CATEGORY(lcApp, "framix.app", QtWarningMsg)

namespace {

// The player as the capture windows see it: the video window's player, paused and sized
// by the main window's own commands.
class PlayerForCapture final : public CapturePlayer
{
public:
    PlayerForCapture(frmvideo* video, TransportCommands* transport)
        : m_video(video), m_transport(transport)
    {
    }
    QString fileName() const override { return m_video->MCIWnd1->fileName(); }
    bool isPlaying() const override { return m_video->MCIWnd1->mode() == QLatin1String("playing"); }
    QString mode() const override { return m_video->MCIWnd1->mode(); }
    void pause() override { m_transport->cmdplay1_Click(); }
    void stop() override { m_video->MCIWnd1->setCommand(QStringLiteral("stop")); }
    void normalSize() override { m_transport->mnunormal_Click(); }
    void setPosition(int n) override { m_video->MCIWnd1->setPosition(n); }
    bool copyFrame() override { return m_video->MCIWnd1->CopyFrame(); }
    QString lastError() const override { return m_video->MCIWnd1->lastError().message(); }
    char copiedPictureType() const override { return m_video->MCIWnd1->copiedPictureType(); }
    VideoFrame copiedFrame() const override { return m_video->MCIWnd1->copiedFrame(); }
    qint64 timeOfPositionMs(int position) const override
    {
        return m_video->MCIWnd1->timeOfPositionMs(position);
    }
    int positionAtTimeMs(qint64 ms) const override
    {
        return m_video->MCIWnd1->positionAtTimeMs(ms);
    }
    MediaInfo mediaInfo() const override { return m_video->MCIWnd1->mediaInfo(); }
    SourceOptions videoOptions() const override { return m_video->MCIWnd1->videoOptions(); }
    std::vector<FrameIndex::Facts> frameFacts() const override
    {
        return m_video->MCIWnd1->frameFacts();
    }

private:
    frmvideo* m_video;
    TransportCommands* m_transport;
};

// The layout is drawn in twips, like every other geometry of the program.
void place(QWidget* w, double x, double y, double width, double height)
{
    w->setGeometry(twips::toPixels(x), twips::toPixels(y), twips::toPixels(width),
                   twips::toPixels(height));
}

QPushButton* iconButton(QWidget* parent, QStyle::StandardPixmap icon, const QString& tip)
{
    auto* b = new QPushButton(parent);
    b->setIcon(parent->style()->standardIcon(icon));
    b->setToolTip(tip);
    return b;
}

QPushButton* textButton(QWidget* parent, const QString& text, const QString& tip)
{
    auto* b = new QPushButton(text, parent);
    b->setToolTip(tip);
    QFont f(QStringLiteral("Courier New"));
    f.setStyleHint(QFont::TypeWriter);
    f.setBold(true);
    b->setFont(f);
    return b;
}

QSlider* slider(QWidget* parent, Qt::Orientation o, int min, int max, const QString& tip)
{
    auto* s = new QSlider(o, parent);
    s->setRange(min, max);
    s->setToolTip(tip);
    JumpToClicks(s);
    return s;
}

// The client area's height; the window is a fixed-size control bar.
constexpr double kClientHeight = 1410;
// Frame width the window widths are counted with (5700 outer for a 5610 client area).
constexpr double kFrameWidth = 90;

} // namespace

frmmain::frmmain(QWidget* parent) : QMainWindow(parent)
{
    setWindowTitle(QStringLiteral("Framix"));
    setAcceptDrops(true);
    buildControls();
    buildMenus();
    // The video window exists from the start, hidden; its placement is read at load.
    m_video = new frmvideo(m_c);
    m_video->setDropHandler([this](const QString& path) { m_media->openPath(path); });
    m_media = std::make_unique<MediaCommands>(m_c, m_video);
    m_transport = std::make_unique<TransportCommands>(m_c, m_video);
    m_capturePlayer = std::make_unique<PlayerForCapture>(m_video, m_transport.get());
    m_capture = std::make_unique<CaptureCommands>(m_c, m_capturePlayer.get());
    m_shell = std::make_unique<ShellCommands>(this, m_video);
    m_endProgram = [] { QCoreApplication::exit(0); };
    m_media->setEndProgram([this] { m_endProgram(); });
    wire();
    setClientWidth(kCompactWidth - kFrameWidth);
}

frmmain::~frmmain()
{
    delete m_video;
}

void frmmain::setEndProgram(std::function<void()> end)
{
    m_endProgram = std::move(end);
}

void frmmain::buildControls()
{
    auto* client = new QWidget(this);
    setCentralWidget(client);
    m_c.frmmain = this;

    m_c.cmdplay = iconButton(client, QStyle::SP_MediaPlay, tr("Play (F3)"));
    m_c.cmdplay1 = iconButton(client, QStyle::SP_MediaPause, tr("Pause (F4)"));
    m_c.cmdback = iconButton(client, QStyle::SP_MediaSkipBackward, tr("Move to First (F5)"));
    m_c.cmdseek = iconButton(client, QStyle::SP_MediaSeekBackward, tr("One Frame Backward (F7)"));
    m_c.cmdstep = iconButton(client, QStyle::SP_MediaSeekForward, tr("One Frame Forward (F8)"));
    m_c.cmdnext = iconButton(client, QStyle::SP_MediaSkipForward, tr("Move to Last (F6)"));
    m_c.cmdcapture =
        iconButton(client, QStyle::SP_DialogSaveButton, tr("Capture Current Frame (F9)"));
    m_c.cmdinfo = iconButton(client, QStyle::SP_MessageBoxInformation, tr("Media info..."));
    m_c.cmdnormal = textButton(client, QStringLiteral("z"), tr("Normal Size"));
    m_c.cmdfullscreen = textButton(client, QStringLiteral("Z"), tr("Full Screen"));
    m_c.cmdmute = iconButton(client, QStyle::SP_MediaVolume, tr("Mute (Ctrl+M)"));
    m_c.cmdmute1 = iconButton(client, QStyle::SP_MediaVolumeMuted, tr("Unmute (Ctrl+M)"));
    m_c.cmdfast = textButton(client, QStringLiteral("2X"), tr("Double Speed"));
    m_c.cmdfast1 = textButton(client, QStringLiteral("1X"), tr("Normal Speed"));
    m_c.Command1 = textButton(client, QStringLiteral("DEFAULT"), tr("Default Speed"));
    m_c.Command1->setFont(QFont(QStringLiteral("Serif")));
    Command2 = new QPushButton(QStringLiteral(">"), client);
    Command2->setToolTip(tr("Show or hide the links"));

    m_c.Slider1 = slider(client, Qt::Horizontal, 0, 10, tr("Media Position..."));
    m_c.Slider2 = slider(client, Qt::Horizontal, 1, 100, tr("Volume..."));
    m_c.Slider2->setValue(80);
    m_c.Slider3 = slider(client, Qt::Vertical, 10, 2000, tr("Speed Control"));
    // The arrow keys step the position slider frame by frame, Page Up and Page Down by ten.
    m_c.Slider1->setPageStep(10);

    m_c.lblstate = new QLabel(client);
    m_c.lbllength = new QLabel(client);
    m_c.lbllength->setToolTip(tr("Current Frame..."));
    m_c.lbltime = new QLabel(client);
    m_c.lbltime->setToolTip(tr("Time of the frame shown / frames in the media"));
    m_c.lbltime->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    // Row of transport buttons, the position slider under it, the labels and speed
    // buttons at the bottom, the speed slider and the panel toggle on the right.
    place(m_c.cmdplay, 60, 60, 360, 360);
    place(m_c.cmdplay1, 60, 60, 360, 360);
    place(m_c.cmdback, 450, 60, 360, 360);
    place(m_c.cmdseek, 840, 60, 360, 360);
    place(m_c.cmdstep, 1230, 60, 360, 360);
    place(m_c.cmdnext, 1620, 60, 360, 360);
    place(m_c.cmdcapture, 2100, 60, 360, 360);
    place(m_c.cmdinfo, 2490, 60, 360, 360);
    place(m_c.cmdnormal, 2880, 60, 360, 360);
    place(m_c.cmdfullscreen, 3270, 60, 360, 360);
    place(m_c.cmdmute, 3750, 60, 360, 360);
    place(m_c.cmdmute1, 3750, 60, 360, 360);
    place(m_c.Slider2, 4140, 60, 960, 360);
    place(m_c.Slider1, 60, 510, 3240, 360);
    place(m_c.lbltime, 3330, 510, 1770, 360);
    place(m_c.lblstate, 60, 960, 1400, 330);
    place(m_c.lbllength, 1500, 960, 1800, 330);
    place(m_c.cmdfast, 3360, 930, 600, 390);
    place(m_c.cmdfast1, 3360, 930, 600, 390);
    place(m_c.Command1, 4020, 930, 1080, 390);
    place(m_c.Slider3, 5130, 60, 300, 1290);
    place(Command2, 5440, 0, 170, kClientHeight);

    m_c.cmdplay->setEnabled(false);
    m_c.cmdplay1->setVisible(false);
    for (QAbstractButton* b : {m_c.cmdback, m_c.cmdnext, m_c.cmdseek, m_c.cmdstep, m_c.cmdcapture,
                               m_c.cmdinfo, m_c.cmdfullscreen, m_c.cmdnormal, m_c.cmdfast})
        b->setEnabled(false);
    m_c.cmdmute1->setVisible(false);
    m_c.cmdfast1->setVisible(false);

    // The side panel with the contact and home page links, uncovered by Command2.
    Picture1 = new QFrame(client);
    Picture1->setFrameShape(QFrame::StyledPanel);
    place(Picture1, 5640, 0, 4965, kClientHeight);
    auto* Label4 = new QLabel(tr("Visit Framix hompage at"), Picture1);
    Label3 = new ClickableLabel(QString::fromLatin1(kHomePageUrl), Picture1);
    auto* Label2 = new QLabel(tr("Send your comments and suggestions to "), Picture1);
    Label1 = new ClickableLabel(QString::fromLatin1(kContactAddress), Picture1);
    styleAsLink(Label3);
    styleAsLink(Label1);
    place(Label4, 120, 120, 3000, 300);
    place(Label3, 120, 420, 3600, 300);
    place(Label2, 120, 780, 4700, 300);
    place(Label1, 120, 1060, 4700, 300);
    // The picture sits top right, beside the two short lines of the home page link.
    Image1 = new QLabel(Picture1);
    place(Image1, 4080, 60, 720, 720);
    Image1->setPixmap(QPixmap(QString::fromLatin1(kProgramPicture))
                          .scaled(Image1->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
    // Out of sight while folded away, so Tab does not wander into it.
    Picture1->setVisible(false);

    // Tab goes through the controls row by row, as they are laid out.
    QWidget* order[] = {m_c.cmdplay,  m_c.cmdplay1,   m_c.cmdback, m_c.cmdseek,   m_c.cmdstep,
                        m_c.cmdnext,  m_c.cmdcapture, m_c.cmdinfo, m_c.cmdnormal, m_c.cmdfullscreen,
                        m_c.cmdmute,  m_c.cmdmute1,   m_c.Slider2, m_c.Slider1,   m_c.cmdfast,
                        m_c.cmdfast1, m_c.Command1,   m_c.Slider3, Command2,      Label3,
                        Label1};
    for (size_t i = 1; i < std::size(order); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

void frmmain::buildMenus()
{
    auto add = [this](QMenu* menu, const QString& caption, const QKeySequence& key = {}) {
        QAction* a = menu->addAction(caption);
        a->setShortcut(key);
        // The keys work in the video window too, where the user watches the picture.
        a->setShortcutContext(Qt::ApplicationShortcut);
        return a;
    };
    mnufile = menuBar()->addMenu(QStringLiteral("&File"));
    mnuopen = add(mnufile, QStringLiteral("&Open"), QKeySequence(Qt::CTRL | Qt::Key_O));
    m_c.mnuclose = add(mnufile, QStringLiteral("&Close"), QKeySequence(Qt::CTRL | Qt::Key_C));
    mnufile->addSeparator();
    m_c.mnuinfo = add(mnufile, QStringLiteral("&Info..."), QKeySequence(Qt::CTRL | Qt::Key_I));
    mnufile->addSeparator();
    mnurecent = new RecentFilesMenu(QStringLiteral("Recent &Files"), this,
                                    [this](const QString& path) { m_media->openPath(path); });
    mnufile->addMenu(mnurecent);
    mnufile->addSeparator();
    mnuexit = add(mnufile, QStringLiteral("E&xit"));

    mnucontrol = menuBar()->addMenu(QStringLiteral("&Controls"));
    m_c.mnuplay = add(mnucontrol, QStringLiteral("&Play"), QKeySequence(Qt::Key_F3));
    m_c.mnupause = add(mnucontrol, QStringLiteral("Pa&use"), QKeySequence(Qt::Key_F4));
    mnucontrol->addSeparator();
    m_c.mnufirst = add(mnucontrol, QStringLiteral("Move to &First"), QKeySequence(Qt::Key_F5));
    m_c.mnulast = add(mnucontrol, QStringLiteral("Move to &Last"), QKeySequence(Qt::Key_F6));
    mnucontrol->addSeparator();
    m_c.mnuback = add(mnucontrol, QStringLiteral("One Frame &Backward"), QKeySequence(Qt::Key_F7));
    m_c.mnuforward =
        add(mnucontrol, QStringLiteral("One Frame &Forward"), QKeySequence(Qt::Key_F8));
    mnucontrol->addSeparator();
    m_c.mnugoto =
        add(mnucontrol, QStringLiteral("&Go to Frame..."), QKeySequence(Qt::CTRL | Qt::Key_G));
    mnucontrol->addSeparator();
    mnustream = mnucontrol->addMenu(QStringLiteral("Video &Stream"));
    mnustream->setEnabled(false);

    QMenu* mnutools = menuBar()->addMenu(QStringLiteral("&Tools"));
    m_c.mnuview = mnutools->addMenu(QStringLiteral("&View"));
    m_c.mnuhalf =
        add(m_c.mnuview, QStringLiteral("&Half Size (50%)"), QKeySequence(Qt::CTRL | Qt::Key_H));
    m_c.mnunormal =
        add(m_c.mnuview, QStringLiteral("&Normal Size (100%)"), QKeySequence(Qt::CTRL | Qt::Key_N));
    m_c.mnudouble =
        add(m_c.mnuview, QStringLiteral("&Double Size (200%)"), QKeySequence(Qt::CTRL | Qt::Key_D));
    m_c.mnufullscreen =
        add(mnutools, QStringLiteral("Full &Screen"), QKeySequence(Qt::CTRL | Qt::Key_F));
    mnutools->addSeparator();
    m_c.mnurepeat = add(mnutools, QStringLiteral("&Repeat"), QKeySequence(Qt::CTRL | Qt::Key_R));
    m_c.mnumute = add(mnutools, QStringLiteral("&Mute"), QKeySequence(Qt::CTRL | Qt::Key_M));
    mnutools->addSeparator();
    m_c.mnucapture =
        add(mnutools, QStringLiteral("&Capture Current Frame"), QKeySequence(Qt::Key_F9));
    m_c.mnubulk =
        add(mnutools, QStringLiteral("&Bulk Capture"), QKeySequence(Qt::CTRL | Qt::Key_B));
    m_c.mnucopy = add(mnutools, QStringLiteral("Cop&y Frame"),
                      QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C));
    mnutools->addSeparator();
    // Settings kept between sessions; their check marks are the stored values.
    mnutonemap = add(mnutools, QStringLiteral("&Tone-map HDR Video"));
    mnutonemap->setCheckable(true);
    mnutonemap->setChecked(Settings::toneMapHdr());
    mnudeinterlace = add(mnutools, QStringLiteral("&Deinterlace Interlaced Video"));
    mnudeinterlace->setCheckable(true);
    mnudeinterlace->setChecked(Settings::deinterlace());
    mnushape = add(mnutools, QStringLiteral("Capture in Display S&hape"));
    mnushape->setCheckable(true);
    mnushape->setChecked(Settings::captureDisplayShape());

    QMenu* mnuhelp = menuBar()->addMenu(QStringLiteral("&Help"));
    mnutopics = add(mnuhelp, QStringLiteral("&Help Topics"), QKeySequence(Qt::Key_F1));
    mnutip = add(mnuhelp, QStringLiteral("Tip of The &Day"));
    mnuhelp->addSeparator();
    mnuabout = add(mnuhelp, QStringLiteral("&About Framix..."), QKeySequence(Qt::Key_F2));

    // The check marks are the Repeat and Mute states; the handlers set them.
    m_c.mnurepeat->setCheckable(true);
    m_c.mnurepeat->setChecked(true);
    m_c.mnumute->setCheckable(true);
    for (QAction* a : {m_c.mnuclose, m_c.mnuinfo, m_c.mnuplay, m_c.mnupause, m_c.mnufirst,
                       m_c.mnulast, m_c.mnuback, m_c.mnuforward, m_c.mnufullscreen, m_c.mnucapture,
                       m_c.mnubulk, m_c.mnugoto, m_c.mnucopy})
        a->setEnabled(false);
    m_c.mnuview->setEnabled(false);
}

void frmmain::wire()
{
    MediaCommands* m = m_media.get();
    TransportCommands* t = m_transport.get();
    // Actions are triggered with their check mark already flipped by Qt; the handlers own
    // the mark, so it is put back first.
    connect(mnuopen, &QAction::triggered, this, [m] { m->mnuopen_Click(); });
    connect(m_c.mnuclose, &QAction::triggered, this, [m] { m->mnuclose_Click(); });
    connect(mnuexit, &QAction::triggered, this, [m] { m->mnuexit_Click(); });
    connect(mnufile, &QMenu::aboutToShow, this, &frmmain::mnufile_Click);
    connect(mnutonemap, &QAction::toggled, this, [this](bool on) {
        Settings::setToneMapHdr(on);
        m_video->MCIWnd1->setTonemap(on);
    });
    connect(mnudeinterlace, &QAction::toggled, this, [this](bool on) {
        Settings::setDeinterlace(on);
        m_video->MCIWnd1->setDeinterlace(on);
    });
    connect(mnushape, &QAction::toggled, this,
            [](bool on) { Settings::setCaptureDisplayShape(on); });
    connect(mnucontrol, &QMenu::aboutToShow, this, &frmmain::mnucontrol_Click);
    connect(mnustream, &QMenu::aboutToShow, this, &frmmain::mnustream_Show);

    connect(m_c.cmdplay, &QAbstractButton::clicked, this, [t] { t->cmdplay_Click(); });
    connect(m_c.cmdplay1, &QAbstractButton::clicked, this, [t] { t->cmdplay1_Click(); });
    connect(m_c.cmdback, &QAbstractButton::clicked, this, [t] { t->cmdback_Click(); });
    connect(m_c.cmdnext, &QAbstractButton::clicked, this, [t] { t->cmdnext_Click(); });
    connect(m_c.cmdseek, &QAbstractButton::clicked, this, [t] { t->cmdseek_Click(); });
    connect(m_c.cmdstep, &QAbstractButton::clicked, this, [t] { t->cmdstep_Click(); });
    connect(m_c.mnuplay, &QAction::triggered, this, [t] { t->cmdplay_Click(); });
    connect(m_c.mnupause, &QAction::triggered, this, [t] { t->cmdplay1_Click(); });
    connect(m_c.mnufirst, &QAction::triggered, this, [t] { t->cmdback_Click(); });
    connect(m_c.mnulast, &QAction::triggered, this, [t] { t->cmdnext_Click(); });
    connect(m_c.mnuback, &QAction::triggered, this, [t] { t->cmdseek_Click(); });
    connect(m_c.mnuforward, &QAction::triggered, this, [t] { t->cmdstep_Click(); });
    connect(m_c.mnugoto, &QAction::triggered, this, [t] { t->mnugoto_Click(); });
    connect(m_c.mnucopy, &QAction::triggered, this, [t] { t->mnucopy_Click(); });
    connect(m_c.Slider1, &QAbstractSlider::actionTriggered, this, [t] { t->Slider1_Scroll(); });
    connect(m_c.Slider1, &QAbstractSlider::valueChanged, this, [t] { t->Slider1_Change(); });
    connect(m_c.mnurepeat, &QAction::triggered, this, [this, t] {
        m_c.mnurepeat->setChecked(!m_c.mnurepeat->isChecked());
        t->mnurepeat_Click();
    });

    connect(m_c.Slider2, &QAbstractSlider::valueChanged, this, [t] { t->Slider2_Change(); });
    connect(m_c.Slider3, &QAbstractSlider::valueChanged, this, [t] { t->Slider3_Change(); });
    connect(m_c.mnumute, &QAction::triggered, this, [this, t] {
        m_c.mnumute->setChecked(!m_c.mnumute->isChecked());
        t->mnumute_Click();
    });
    connect(m_c.cmdmute, &QAbstractButton::clicked, this, [t] { t->mnumute_Click(); });
    connect(m_c.cmdmute1, &QAbstractButton::clicked, this, [t] { t->mnumute_Click(); });
    connect(m_c.Command1, &QAbstractButton::clicked, this, [t] { t->Command1_Click(); });
    connect(m_c.cmdfast, &QAbstractButton::clicked, this, [t] { t->cmdfast_Click(); });
    connect(m_c.cmdfast1, &QAbstractButton::clicked, this, [t] { t->cmdfast1_Click(); });

    connect(m_c.mnuhalf, &QAction::triggered, this, [t] { t->mnuhalf_Click(); });
    connect(m_c.mnunormal, &QAction::triggered, this, [t] { t->mnunormal_Click(); });
    connect(m_c.mnudouble, &QAction::triggered, this, [t] { t->mnudouble_Click(); });
    connect(m_c.cmdnormal, &QAbstractButton::clicked, this, [t] { t->mnunormal_Click(); });
    connect(m_c.mnufullscreen, &QAction::triggered, this, [t] { t->mnufullscreen_Click(); });
    connect(m_c.cmdfullscreen, &QAbstractButton::clicked, this, [t] { t->mnufullscreen_Click(); });

    CaptureCommands* cap = m_capture.get();
    connect(m_c.mnucapture, &QAction::triggered, this, [cap] { cap->mnucapture_Click(); });
    connect(m_c.cmdcapture, &QAbstractButton::clicked, this, [cap] { cap->cmdcapture_Click(); });
    connect(m_c.mnubulk, &QAction::triggered, this, [cap] { cap->mnubulk_Click(); });

    connect(Command2, &QAbstractButton::clicked, this, &frmmain::Command2_Click);

    ShellCommands* sh = m_shell.get();
    connect(m_c.cmdinfo, &QAbstractButton::clicked, this, [sh] { sh->cmdinfo_Click(); });
    connect(m_c.mnuinfo, &QAction::triggered, this, [sh] { sh->cmdinfo_Click(); });
    connect(mnutip, &QAction::triggered, this, [sh] { sh->mnutip_Click(); });
    connect(mnuabout, &QAction::triggered, this, [sh] { sh->mnuabout_Click(); });
    connect(mnutopics, &QAction::triggered, this, [sh] { sh->mnutopics_Click(); });
    connect(Label1, &ClickableLabel::clicked, this, [sh] { sh->Label1_Click(); });
    connect(Label3, &ClickableLabel::clicked, this, [sh] { sh->Label3_Click(); });

    // The File and Controls items are refreshed when their menus open. Their shortcut keys
    // (F3 to F8, Ctrl+C) act only on enabled items, so the items also follow the buttons
    // they stand for whenever one of those is enabled, disabled, shown or hidden: the keys
    // then work without the menu being opened first.
    for (QWidget* b : {static_cast<QWidget*>(m_c.cmdplay), static_cast<QWidget*>(m_c.cmdplay1),
                       static_cast<QWidget*>(m_c.cmdback), static_cast<QWidget*>(m_c.cmdnext),
                       static_cast<QWidget*>(m_c.cmdseek), static_cast<QWidget*>(m_c.cmdstep)})
        b->installEventFilter(this);
    // Every button also answers Enter, as Space; and the buttons that stand in for each
    // other (Play and Pause, Mute and Unmute, 2X and 1X) pass the keyboard on to their twin.
    for (QAbstractButton* b : centralWidget()->findChildren<QAbstractButton*>())
        b->installEventFilter(this);
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        if (now != nullptr && now->window() == this)
            m_lastFocus = now;
    });
    m_video->setFullScreenHandler([this] {
        if (m_c.mnufullscreen->isEnabled() && isEnabled())
            m_c.mnufullscreen->trigger();
    });
}

QWidget* frmmain::twinOf(QObject* button) const
{
    const std::pair<QWidget*, QWidget*> twins[] = {
        {m_c.cmdplay, m_c.cmdplay1}, {m_c.cmdmute, m_c.cmdmute1}, {m_c.cmdfast, m_c.cmdfast1}};
    for (const auto& [a, b] : twins) {
        if (button == a)
            return b;
        if (button == b)
            return a;
    }
    return nullptr;
}

bool frmmain::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::Hide:
        // Sent while the button still has the keyboard, which its hiding then moves on.
        if (static_cast<QWidget*>(watched)->hasFocus())
            m_focusTo = twinOf(watched);
        break;
    case QEvent::EnabledChange:
    case QEvent::ShowToParent:
    case QEvent::HideToParent:
        if (event->type() == QEvent::ShowToParent && watched == m_focusTo) {
            m_focusTo->setFocus(Qt::OtherFocusReason);
            m_focusTo = nullptr;
        }
        mnufile_Click();
        mnucontrol_Click();
        break;
    case QEvent::KeyPress: {
        const auto* key = static_cast<QKeyEvent*>(event);
        auto* button = qobject_cast<QAbstractButton*>(watched);
        if (button && key->modifiers() == Qt::NoModifier &&
            (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)) {
            button->click();
            return true;
        }
        break;
    }
    default:
        break;
    }
    return QMainWindow::eventFilter(watched, event);
}

void frmmain::placeAtStart()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return;
    const QRect room = screen->availableGeometry();
    // The caption and frame are not known before the window manager frames the window;
    // the margin leaves room for them.
    constexpr int kMargin = 48;
    const int x = room.left() + std::max(0, (room.width() - width()) / 2);
    const int y = room.top() + std::max(0, room.height() - height() - kMargin);
    move(x, y);
}

void frmmain::Form_Load()
{
    m_c.Slider3->setValue(1000);
    PlayerComponent* player = m_video->MCIWnd1;
    player->setDeviceType(QStringLiteral("MPEGVideo2"));
    m_video->Form_Load();
    // The volume slider comes back where the user left it last time.
    if (const auto stored = Settings::volume(); stored && *stored >= 1 && *stored <= 100)
        m_c.Slider2->setValue(*stored);
    player->setVolume(m_c.Slider2->value() * 10);
    player->setSpeed(m_c.Slider3->value());
    player->setTonemap(mnutonemap->isChecked());
    shared().fullscreen = false;
    shared().norepeat = false;
}

void frmmain::mnufile_Click()
{
    m_c.mnuclose->setEnabled(!m_video->MCIWnd1->fileName().isEmpty());
}

void frmmain::mnucontrol_Click()
{
    const PlayerComponent* player = m_video->MCIWnd1;
    mnustream->setEnabled(!player->fileName().isEmpty() &&
                          player->mediaInfo().videoStreams.size() > 1);
    if (player->fileName().isEmpty())
        return;
    // The buttons' own states: while a secondary window has disabled the main window, every
    // button reads as disabled, and the items must not take that over.
    m_c.mnuplay->setEnabled(m_c.cmdplay->isVisibleTo(this));
    m_c.mnupause->setEnabled(m_c.cmdplay1->isVisibleTo(this));
    m_c.mnulast->setEnabled(m_c.cmdnext->isEnabledTo(this));
    m_c.mnufirst->setEnabled(m_c.cmdback->isEnabledTo(this));
    m_c.mnuforward->setEnabled(m_c.cmdstep->isEnabledTo(this));
    m_c.mnuback->setEnabled(m_c.cmdseek->isEnabledTo(this));
}

void frmmain::mnustream_Show()
{
    // Made afresh each time: the list belongs to the file open now.
    mnustream->clear();
    const MediaInfo& info = m_video->MCIWnd1->mediaInfo();
    for (const MediaInfo::VideoStream& v : info.videoStreams) {
        QString caption = QStringLiteral("Stream &%1: %2, %3x%4")
                              .arg(v.index)
                              .arg(v.codec)
                              .arg(v.width)
                              .arg(v.height);
        if (!v.title.isEmpty())
            caption += QStringLiteral(" - ") + v.title;
        if (v.isDefault)
            caption += QStringLiteral(" (default)");
        QAction* a = mnustream->addAction(caption);
        a->setCheckable(true);
        a->setChecked(v.index == info.videoStream);
        connect(a, &QAction::triggered, this,
                [this, index = v.index] { m_media->chooseVideoStream(index); });
    }
}

double frmmain::widthTwips() const
{
    return twips::fromPixels(centralWidget()->width()) + kFrameWidth;
}

void frmmain::setClientWidth(double twipsWidth)
{
    const QSize client(twips::toPixels(twipsWidth), twips::toPixels(kClientHeight));
    centralWidget()->setFixedSize(client);
    setFixedSize(client.width(), client.height() + menuBar()->sizeHint().height());
}

void frmmain::Command2_Click()
{
    // The button's caption is the one record of the layout: "<" while the panel shows.
    if (Command2->text() == QStringLiteral("<")) {
        setClientWidth(kCompactWidth - kFrameWidth);
        Command2->setText(QStringLiteral(">"));
        Picture1->setVisible(false);
    } else {
        setClientWidth(kExpandedWidth - kFrameWidth);
        Command2->setText(QStringLiteral("<"));
        Picture1->setVisible(true);
    }
}

void frmmain::Form_Resize()
{
    if (!m_video->MCIWnd1->fileName().isEmpty() && !shared().audioonly)
        m_video->showWindow();
}

void frmmain::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && !isMinimized())
        Form_Resize();
    // A dialog disables this window while it is up, which takes the keyboard from the
    // control that had it: it is given back when the window is enabled again.
    if (event->type() == QEvent::EnabledChange && isEnabled() && m_lastFocus &&
        m_lastFocus->isVisible() && m_lastFocus->isEnabled())
        m_lastFocus->setFocus(Qt::OtherFocusReason);
}

void frmmain::paintEvent(QPaintEvent* event)
{
    QMainWindow::paintEvent(event);
    if (!m_painted) {
        m_painted = true;
        // The start-up benchmark reads this (QT_LOGGING_RULES="framix.app.info=true").
        qCInfo(lcApp) << "main window shown at" << QDateTime::currentMSecsSinceEpoch();
    }
}

void frmmain::closeEvent(QCloseEvent* event)
{
    Settings::setVolume(m_c.Slider2->value());
    event->accept();
    m_endProgram();
}

void frmmain::dragEnterEvent(QDragEnterEvent* event)
{
    if (!droppedFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void frmmain::dropEvent(QDropEvent* event)
{
    const QString path = droppedFile(event->mimeData());
    if (path.isEmpty())
        return;
    event->acceptProposedAction();
    QMetaObject::invokeMethod(
        this, [this, path] { m_media->openPath(path); }, Qt::QueuedConnection);
}

} // namespace framix
