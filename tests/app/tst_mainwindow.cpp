// The main window, each test starting with mpeg4.avi (320x240, 250 frames) open in a new
// one: opening, the control states, the transport, sound, speed and view commands, the
// shell windows and links, and capturing frames one at a time and in bulk runs.

#include "corpus.h"
#include "fakedesktop.h"
#include "frameconverter.h"
#include "frmbulk.h"
#include "frminfo.h"
#include "frmmain.h"
#include "frmtip.h"
#include "frmvideo.h"
#include "mcommon.h"
#include "picturediff.h"
#include "settings.h"
#include "sharedstate.h"
#include "tonemapper.h"
#include "videosource.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFontMetrics>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace framix;

namespace {

template <class W> QPointer<W> shownWindow()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* window = qobject_cast<W*>(w); window != nullptr && window->isVisible())
            return window;
    return nullptr;
}

// The engine's own picture of frame n, tone-mapped when asked.
QImage frameImage(const QString& clip, int n, bool tonemap = false)
{
    VideoSource source;
    const auto frame = source.open(corpus::path(clip), nullptr) ? source.frame(n) : std::nullopt;
    if (!frame)
        return {};
    const QImage bgr =
        tonemap ? Tonemapper().toBgrImage(*frame) : FrameConverter().toBgrImage(*frame);
    return bgr.convertToFormat(QImage::Format_RGB888);
}

// Whether `image` holds the engine's own picture of frame n.
bool isFrame(const QImage& image, const QString& clip, int n, bool tonemap = false)
{
    const QImage want = frameImage(clip, n, tonemap);
    return !want.isNull() && image.convertToFormat(QImage::Format_RGB888) == want;
}

} // namespace

class MainWindowTest : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    std::optional<FakeDesktop> m_desktop;
    std::unique_ptr<frmmain> m_main;
    int m_ended = 0;

    const MainControls& c() const { return m_main->controls(); }
    frmvideo* video() const { return m_main->videoWindow(); }
    PlayerComponent* player() const { return video()->MCIWnd1; }
    bool visible(QWidget* w) const { return w->isVisibleTo(m_main.get()); }
    void key(Qt::Key k) { QTest::keyClick(m_main.get(), k); }
    void open(const QString& clip)
    {
        m_main->media().openPath(corpus::path(clip));
        QTRY_COMPARE(c().lblstate->text(), "stopped");
    }
    template <class T> T* find(const QString& text) const
    {
        for (T* t : m_main->findChildren<T*>())
            if (t->text() == text)
                return t;
        return nullptr;
    }
    // The enabled ones of the controls the media states set, after the File menu's refresh.
    QString enabledControls() const
    {
        m_main->mnufile_Click();
        const MainControls& k = c();
        const std::pair<const char*, QObject*> all[] = {
            {"play", k.cmdplay},       {"pause", k.cmdplay1}, {"first", k.cmdback},
            {"last", k.cmdnext},       {"back", k.cmdseek},   {"step", k.cmdstep},
            {"capture", k.cmdcapture}, {"info", k.cmdinfo},   {"normal", k.cmdnormal},
            {"full", k.cmdfullscreen}, {"2x", k.cmdfast},     {"1x", k.cmdfast1},
            {"position", k.Slider1},   {"speed", k.Slider3},  {"Close", k.mnuclose},
            {"Info", k.mnuinfo},       {"View", k.mnuview},   {"Full", k.mnufullscreen},
            {"Capture", k.mnucapture}, {"Bulk", k.mnubulk}};
        QStringList on;
        for (auto [name, control] : all)
            if (control->property("enabled").toBool())
                on << QString::fromLatin1(name);
        return on.join(u' ');
    }
    QPointer<frmbulk> openBulk(const QString& out)
    {
        c().mnubulk->trigger();
        frmbulk* bulk = m_main->capture().bulkDialog();
        if (!out.isEmpty())
            bulk->txtout->setText(out);
        return bulk;
    }
    QStringList written() const { return QDir(m_dir.filePath("out")).entryList({"*.bmp"}); }

private slots:
    void initTestCase() { Settings::setConfigDirForTesting(m_dir.filePath("config")); }
    void init()
    {
        shared() = SharedState{};
        Settings::setToneMapHdr(true);
        Settings::setCaptureDisplayShape(false);
        m_desktop.emplace();
        QDir(m_dir.filePath("out")).removeRecursively();
        m_main = std::make_unique<frmmain>();
        m_ended = 0;
        m_main->setEndProgram([this] { ++m_ended; });
        m_main->Form_Load();
        m_main->show();
        open("mpeg4.avi");
        QTRY_VERIFY(shared().resizeok);
    }
    void cleanup() { m_main.reset(); }

    // Cancel, a missing file and a folder open nothing, and the label says why. The dialog
    // offers every video type first, in the last file's folder, with the main window off;
    // the old media reports its closing first, the new comes up stopped, offering Play.
    void opening()
    {
        c().cmdplay->click();
        QTRY_COMPARE(c().lblstate->text(), "playing");
        QSignalSpy modes(player(), &PlayerComponent::ModeChange);
        m_desktop->answers = {"", corpus::path("gone.mpg"), corpus::dir(),
                              corpus::path("mpeg1.mpg")};
        for (int i = 0; i < 3; ++i)
            m_main->media().mnuopen_Click();
        QVERIFY(player()->fileName() == corpus::path("mpeg4.avi") && modes.isEmpty());
        QVERIFY(c().lblstate->text() == "cannot open" &&
                c().lblstate->toolTip().contains("a folder"));
        m_main->media().mnuopen_Click();
        const Desktop::FileRequest r = m_desktop->dialogs.value(3);
        QVERIFY(!m_desktop->ownerEnabled.value(3) && !r.saveMode && m_main->isEnabled());
        QCOMPARE(QDir(r.initialDir).canonicalPath(), QDir(corpus::dir()).canonicalPath());
        for (const char* type : {"*.mp4", "*.mkv", "*.mov", "*.webm", "*.ts", "*.mpg", "*.avi"})
            QVERIFY2(r.nameFilters.value(0).contains(QLatin1String(type)), type);
        QCOMPARE(c().Slider1->maximum(), corpus::oracle("mpeg1.mpg").size());
        QCOMPARE(modes.value(0).value(0).toInt(), int(PlayerComponent::NotReady));
        QTRY_COMPARE(c().lblstate->text(), "stopped");
        QVERIFY(visible(c().cmdplay) && !visible(c().cmdplay1) && c().mnuplay->isEnabled());
        // A file dropped on the window is opened too.
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(corpus::path("wmv2.wmv"))});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, {});
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, {});
        QApplication::sendEvent(m_main.get(), &enter);
        QApplication::sendEvent(m_main.get(), &drop);
        QVERIFY(enter.isAccepted() && drop.isAccepted());
        QTRY_COMPARE(player()->fileName(), corpus::path("wmv2.wmv"));
    }

    // What each kind of media, and none, enables (Exit closes the media before it ends the
    // program); sound plays without the video window, which restoring the main window does
    // not show either.
    void controlStates_data()
    {
        QTest::addColumn<QString>("clip"); // opened while playing; "" closes
        QTest::addColumn<QString>("enabled");
        QTest::newRow("video") << QString("mpeg1.mpg")
                               << "play pause last step capture info normal full 2x 1x position "
                                  "speed Close Info View Full Capture Bulk";
        QTest::newRow("sound") << QString("sound.mp2")
                               << "play pause last step info position speed Close Info";
        QTest::newRow("closed") << QString() << QString();
        QTest::newRow("exit") << QString("exit") << QString();
        QTest::newRow("not media") << QString("text.mpg") << QString();
    }
    void controlStates()
    {
        QFETCH(QString, clip);
        QFETCH(QString, enabled);
        c().cmdplay->click();
        if (clip.isEmpty() || clip == "exit")
            clip.isEmpty() ? c().mnuclose->trigger() : m_main->media().mnuexit_Click();
        else
            m_main->media().openPath(corpus::path(clip));
        QCOMPARE(m_ended, int(clip == "exit"));
        QTRY_COMPARE(enabledControls(), enabled);
        QCOMPARE(video()->isVisible(), enabled.contains("capture"));
        QVERIFY(clip != "text.mpg" || c().lblstate->toolTip().contains("text.mpg"));
        if (clip != "sound.mp2")
            return;
        c().cmdplay->click();
        m_main->showMinimized();
        m_main->showNormal();
        QTest::qWait(50);
        QVERIFY(player()->mode() == "playing" && video()->isHidden() && shared().audioonly);
    }

    // The keys work from the opening on, without the Controls menu having been opened. Play
    // shows the hidden video window; Move to Last with Repeat on stops at the end; steps
    // suspend Repeat until it is toggled.
    void transportKeys()
    {
        video()->close();
        key(Qt::Key_F3);
        QVERIFY(player()->mode() == "playing" && video()->isVisible() && visible(c().cmdplay1));
        QVERIFY(!visible(c().cmdplay) && !c().mnuplay->isEnabled() && c().mnupause->isEnabled());
        key(Qt::Key_F4);
        QVERIFY(player()->mode() == "paused" && visible(c().cmdplay) && !c().mnupause->isEnabled());
        key(Qt::Key_F3);
        key(Qt::Key_F6);
        QCOMPARE(player()->position(), player()->length());
        QTRY_COMPARE(player()->shownFrame(), player()->length() - 1);
        QTest::qWait(300);
        QVERIFY(player()->mode() != "playing" && !c().mnuforward->isEnabled() && shared().norepeat);
        key(Qt::Key_F5);
        QTRY_VERIFY(!c().mnuback->isEnabled() && c().mnuforward->isEnabled());
        for (int i = 0; i < 3; ++i)
            key(Qt::Key_F8);
        QTRY_COMPARE(c().lbllength->text(), "Frame: 3");
        key(Qt::Key_F7);
        QTRY_COMPARE(player()->shownFrame(), 2);
        QVERIFY(player()->position() == 2 && c().Slider1->value() == 2);
        QVERIFY(shared().norepeat && c().mnurepeat->isChecked());
        c().mnurepeat->trigger();
        QVERIFY(shared().norepeat && !c().mnurepeat->isChecked());
        c().mnurepeat->trigger();
        QVERIFY(!shared().norepeat && c().mnurepeat->isChecked());
    }

    // Go to Frame takes a frame number or a time within the media; a time past the end of the
    // last frame is refused with a message, not taken for the last frame.
    // The numbers offered are those Move to Last shows: 0 to the media's length.
    void goToFrame()
    {
        const int last = player()->length();
        const QString pastEnd = QStringLiteral("9:00:00");
        m_desktop->typed = {pastEnd, QString::number(last + 1), QString::number(last)};
        c().mnugoto->trigger();
        QCOMPARE(m_desktop->messages.size(), 2);
        QVERIFY2(m_desktop->messages.first().contains(pastEnd),
                 qPrintable(m_desktop->messages.first()));
        QVERIFY2(m_desktop->messages.last().contains(QString("from 0 to %1").arg(last)),
                 qPrintable(m_desktop->messages.last()));
        QCOMPARE(player()->position(), last);
        c().cmdnext->click();
        QTRY_COMPARE(c().lbllength->text(), QString("Frame: %1").arg(last));
        m_desktop->typed = {QStringLiteral("3")};
        c().mnugoto->trigger();
        QCOMPARE(player()->position(), 3);
        m_desktop->messages.clear();
        const qint64 at = player()->timeOfPositionMs(5);
        m_desktop->typed = {QStringLiteral("0:%1.%2")
                                .arg(at / 1000, 2, 10, QLatin1Char('0'))
                                .arg(at % 1000, 3, 10, QLatin1Char('0'))};
        c().mnugoto->trigger();
        QVERIFY(m_desktop->messages.isEmpty());
        QCOMPARE(player()->position(), 5);
        // The end time, as the readout shows it at the last position, is that position.
        m_desktop->typed = {TimeText(player()->timeOfPositionMs(last))};
        c().mnugoto->trigger();
        QVERIFY(m_desktop->messages.isEmpty());
        QCOMPARE(player()->position(), last);
    }

    // A drag of the position slider seeks once and goes on as the player was going; a move
    // made by the program only records the value.
    void positionSlider_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("command"); // "" for a move by the program
        QTest::newRow("dragged while paused") << QString("paused") << "pause";
        QTest::newRow("dragged while playing") << QString("playing") << "play";
        QTest::newRow("set by the program") << QString("stopped") << QString();
    }
    void positionSlider()
    {
        QFETCH(QString, mode);
        QFETCH(QString, command);
        if (mode != "stopped")
            m_main->transport().cmdplay_Click();
        if (mode == "paused")
            m_main->transport().cmdplay1_Click();
        QTRY_COMPARE(c().lblstate->text(), mode);
        QSignalSpy commands(player(), &PlayerComponent::commandReceived);
        c().Slider1->setSliderDown(!command.isEmpty()); // a drag: Scroll, then Change
        command.isEmpty() ? c().Slider1->setValue(120) : c().Slider1->setSliderPosition(120);
        c().Slider1->setSliderDown(false);
        QVERIFY(shared().seekpos == 120 && !shared().seeking && player()->mode() == mode);
        QCOMPARE(commands.size(), command.isEmpty() ? 0 : 1);
        QCOMPARE(commands.value(0).value(0).toString(), command);
        if (mode == "playing")
            QTRY_VERIFY(player()->position() > 120 && c().Slider1->value() > 120);
        else
            QTRY_VERIFY(player()->position() == (command.isEmpty() ? 0 : 120) &&
                        player()->shownFrame() == player()->position());
    }

    // The volume follows the slider, also while muted; unmuting and opening take the
    // slider's value, and closing the window stores it for the next start. DEFAULT ends
    // any speed, a double speed too while the slider reads normal.
    void soundAndSpeed()
    {
        c().Slider2->setValue(50);
        c().cmdmute->click();
        c().Slider2->setValue(30);
        QVERIFY(player()->volume() == 300 && c().mnumute->isChecked() && visible(c().cmdmute1));
        c().mnumute->trigger();
        c().mnumute->trigger();
        QVERIFY(player()->volume() == 0 && c().mnumute->isChecked() && !visible(c().cmdmute));
        open("mpeg1.mpg");
        QVERIFY(player()->volume() == 300 && c().mnumute->isChecked());
        c().cmdmute1->click();
        QVERIFY(player()->volume() == 300 && !c().mnumute->isChecked() && visible(c().cmdmute));
        c().cmdfast->click();
        QVERIFY(player()->speed() == 2000 && c().Slider3->value() == 1000 && visible(c().cmdfast1));
        c().Command1->click();
        QCOMPARE(player()->speed(), 1000);
        c().Slider3->setValue(1500);
        c().Command1->click();
        QVERIFY(c().Slider3->value() == 1000 && player()->speed() == 1000);
        m_main->close();
        frmmain next;
        next.Form_Load();
        Settings::setVolume(80);
        QVERIFY(m_ended == 1 && next.controls().Slider2->value() == 30);
        QCOMPARE(next.videoWindow()->MCIWnd1->volume(), 300);
    }

    // A size fits the window around the whole picture; so does leaving full screen with
    // Escape, full screen that neither its own resize nor choosing it again ended.
    void viewSizes_data()
    {
        QTest::addColumn<int>("zoom");
        QTest::newRow("half") << 50;
        QTest::newRow("double") << 200;
        QTest::newRow("Escape from full screen") << 100;
    }
    void viewSizes()
    {
        QFETCH(int, zoom);
        (zoom == 50 ? c().mnuhalf : c().mnudouble)->trigger();
        if (zoom == 100) {
            c().cmdfullscreen->click();
            QTRY_COMPARE(player()->size(), video()->size());
            c().mnufullscreen->trigger();
            QVERIFY(shared().fullscreen && video()->state() == frmvideo::State::FullScreen);
            QTest::keyClick(video(), Qt::Key_Escape);
        }
        QTRY_VERIFY(!shared().fullscreen && video()->state() == frmvideo::State::Normal);
        QCOMPARE(player()->zoom(), zoom);
        QTRY_COMPARE(player()->size(), QSize(320, 240) * zoom / 100);
        QCOMPARE(video()->size(), player()->size());
        QCOMPARE(video()->heightTwips(), player()->heightTwips() + 495);
        QCOMPARE(video()->widthTwips(), player()->widthTwips() + 30);
    }

    // The information window describes the media open and disables the main window.
    void info_data()
    {
        QTest::addColumn<QStringList>("row"); // file, picture, frame rate, duration
        QTest::newRow("video") << QStringList{"mpeg4.avi", "320 x 240 pixels", "25 frames/s",
                                              "0:10."};
        QTest::newRow("sound") << QStringList{"sound.mp2", "none", "none", "0:04."};
    }
    void info()
    {
        QFETCH(QStringList, row);
        open(row[0]);
        (row[1] == "none" ? c().mnuinfo->trigger() : c().cmdinfo->click());
        QPointer<frminfo> info = shownWindow<frminfo>();
        QVERIFY(info && !m_main->isEnabled() && video()->isEnabled());
        QCOMPARE(info->txtfile->text(), row[0]);
        QCOMPARE(info->lbllength->text(), QString("%1 Frames").arg(player()->length()));
        const qint64 kb = frminfo::kilobytes(QFileInfo(corpus::path(row[0])).size());
        QCOMPARE(info->lblsize->text(), QString("%1 KB").arg(kb));
        QVERIFY(info->lblpicture->text() == row[1] && info->lblrate->text() == row[2]);
        QVERIFY(info->lblduration->text().startsWith(row[3]) && info->lblaudio->text() != "none");
        // The duration is the time the main window shows at the last position.
        if (row[1] != "none")
            QCOMPARE(info->lblduration->text(),
                     TimeText(player()->timeOfPositionMs(player()->length())));
        info->close();
        QVERIFY(m_main->isEnabled());
        QTRY_VERIFY(info == nullptr);
    }

    // Tip of the Day from the menu turns the tips on again and disables both windows until
    // it closes; Help Topics without its page says so.
    void helpMenu()
    {
        Settings::setShowTipsAtStartup(0);
        find<QAction>("Tip of The &Day")->trigger();
        QVERIFY(shownWindow<frmTip>() && Settings::showTipsAtStartup() == 1);
        QVERIFY(!m_main->isEnabled() && !video()->isEnabled());
        shownWindow<frmTip>()->close();
        QVERIFY(m_main->isEnabled() && video()->isEnabled());
        find<QAction>("&Help Topics")->trigger();
        QCOMPARE(m_desktop->messages, QStringList{ShellCommands::kMissingHelpText});
    }

    // Capture pauses playing media where it is and brings the picture to 100 %; the frame
    // goes to the file chosen, or stays on the clipboard when none is or the write fails.
    void captureTheFrameOnScreen_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::newRow("saved") << "shot.bmp";
        QTest::newRow("saved as PNG") << "shot.png";
        QTest::newRow("saved as JPEG") << "shot.jpg";
        QTest::newRow("saved as WebP") << "shot.webp";
        QTest::newRow("cancelled") << QString();
        QTest::newRow("unwritable") << "no/such/folder/shot.bmp";
    }
    void captureTheFrameOnScreen()
    {
        QFETCH(QString, answer);
        const QString file = answer.isEmpty() ? QString() : m_dir.filePath(answer);
        m_desktop->answers = {file};
        c().mnudouble->trigger();
        c().cmdplay->click();
        QTRY_VERIFY(player()->position() > 20);
        c().cmdcapture->click();
        const int at = player()->position();
        QVERIFY(player()->mode() == "paused" && player()->zoom() == 100);
        QVERIFY(m_desktop->dialogs.value(0).defaultExt == "bmp");
        QCOMPARE(m_desktop->dialogs.value(0).nameFilters.value(1), "PNG Files (*.png) (*.png)");
        const QImage clipboard = QGuiApplication::clipboard()->image();
        if (answer.startsWith("shot.")) {
            // The type is the one the name's extension gives; JPEG is lossy, the others exact
            // but WebP, which is lossy at the quality Bulk Capture keeps (its first chunk says
            // "VP8 ", not the lossless "VP8L"; Qt reads no WebP here, its pixels are the
            // engine's to test).
            QVERIFY(clipboard.isNull());
            if (answer.endsWith("webp")) {
                QFile webp(file);
                QVERIFY(webp.open(QIODevice::ReadOnly));
                const QByteArray head = webp.read(16);
                QVERIFY(head.startsWith("RIFF") && head.mid(8) == "WEBPVP8 ");
            } else {
                const QByteArray type = QImageReader(file).format();
                QCOMPARE(type,
                         answer.endsWith("jpg") ? "jpeg" : QFileInfo(file).suffix().toLatin1());
                QVERIFY(type == "jpeg"
                            ? meanDifference(QImage(file), frameImage("mpeg4.avi", at)) < 2
                            : isFrame(QImage(file), "mpeg4.avi", at));
            }
        } else
            QVERIFY(!QFile::exists(file) && isFrame(clipboard, "mpeg4.avi", at));
        QTest::qWait(100);
        QVERIFY(player()->mode() == "paused" && player()->position() == at);
        QVERIFY(m_desktop->messages.isEmpty());
        QTRY_COMPARE(c().lblstate->text(), answer.contains('/') ? "not saved" : "paused");
        QVERIFY(!answer.contains('/') || c().lblstate->toolTip().contains("shot.bmp"));
    }

    // A full run writes positions 0 to Length, which shows the last frame. Cancel and the
    // close box stop a run after the frame on its way, leaving Repeat as it was; a folder
    // that cannot be made stops it at the first frame, ready for another try.
    void bulkRuns_data()
    {
        QTest::addColumn<QString>("stop");
        QTest::addColumn<int>("files");
        QTest::newRow("full") << QString() << 11;
        QTest::newRow("Cancel Capture") << "cancel" << 13;
        QTest::newRow("close box") << "close" << 13;
        QTest::newRow("folder below a file") << "blocked" << 0;
    }
    void bulkRuns()
    {
        QFETCH(QString, stop);
        QFETCH(int, files);
        open(stop.isEmpty() ? "odd.avi" : "mpeg4.avi"); // odd.avi: 10 frames of 33x17
        c().mnurepeat->trigger();
        QFile(m_dir.filePath("blocker")).open(QIODevice::WriteOnly);
        const QString out = m_dir.filePath(stop == "blocked" ? "blocker/frames" : "out/");
        QPointer<frmbulk> bulk = openBulk(out);
        // Stopped while frame 12 is on its way (served in that frame's event pass).
        connect(bulk->ProgressBar1, &QProgressBar::valueChanged, this, [&](int v) {
            if (v == 12 && stop != "blocked")
                QTimer::singleShot(0, bulk, [&] {
                    stop == "close" ? (void)bulk->close() : bulk->cmdcancel->click();
                });
        });
        bulk->cmdcapture->click();
        QCOMPARE(written().size(), files);
        for (const QString& name : written())
            QCOMPARE(QImage(m_dir.filePath("out/" + name)).width(), stop.isEmpty() ? 33 : 320);
        const QString failure = m_desktop->messages.value(1);
        QVERIFY2(stop != "blocked" || failure.contains(out + "/frame0.bmp: Not a directory"),
                 qPrintable(failure));
        if (stop.isEmpty()) {
            QVERIFY(isFrame(QImage(m_dir.filePath("out/frame10.bmp")), "odd.avi", 9));
            QVERIFY(player()->position() == 10 && m_desktop->messages.size() == 1);
        } else if (stop != "blocked") {
            QVERIFY(m_desktop->messages.isEmpty());
            QTRY_VERIFY(bulk.isNull());
            QVERIFY(m_main->isEnabled() && shared().norepeat);
        } else {
            QVERIFY(bulk->cmdcapture->isEnabled() && !bulk->cmdcancel->isEnabled());
            bulk->close();
        }
    }

    // The other output types and frame choices of a full run: exactly the frames chosen, in
    // the type chosen, each listed with ffprobe's keyframe flag; the progress text gives the
    // pace and the time left (the fake clock moves a second per reading).
    void bulkTypesAndChoices_data()
    {
        QTest::addColumn<int>("type"); // row of the type list
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<int>("every"); // 0: keyframes only
        QTest::newRow("PNG, every 40th") << 1 << "png" << 40;
        QTest::newRow("JPEG, keyframes") << 3 << "jpg" << 0;
        QTest::newRow("TIFF, every 100th") << 4 << "tiff" << 100;
    }
    void bulkTypesAndChoices()
    {
        QFETCH(int, type);
        QFETCH(QString, suffix);
        QFETCH(int, every);
        const QVector<corpus::OracleFrame> oracle = corpus::oracle("mpeg4.avi");
        QStringList want;
        for (int n = 0; n < oracle.size(); ++n)
            if (every > 0 ? n % every == 0 : oracle[n].key)
                want << QString("frame%1.%2").arg(n).arg(suffix);
        QPointer<frmbulk> bulk = openBulk(m_dir.filePath("out"));
        bulk->lsttypes->setCurrentRow(type);
        if (every > 0) {
            bulk->optevery->click();
            bulk->spnevery->setValue(every);
        } else {
            bulk->optkey->click();
        }
        bulk->chkcsv->setChecked(true);
        bulk->cmdcapture->click();
        QDir out(m_dir.filePath("out"));
        QStringList files = out.entryList(QDir::Files);
        files.removeOne(frmbulk::kFrameListName);
        const auto number = [](const QString& file) {
            return file.mid(5).section('.', 0, 0).toInt();
        };
        std::sort(files.begin(), files.end(),
                  [&](const QString& a, const QString& b) { return number(a) < number(b); });
        QCOMPARE(files, want);
        for (const QString& file : files) {
            // Qt reads TIFF only with an extra plugin; the file's own header is checked then
            // (the command-line tests compare its pixels with ffmpeg's reading).
            if (!QImageReader::supportedImageFormats().contains(suffix.toLatin1())) {
                QFile f(out.filePath(file));
                QVERIFY(f.open(QIODevice::ReadOnly) && f.read(4) == QByteArray("II*\0", 4));
                continue;
            }
            const QImage saved(out.filePath(file));
            QVERIFY2(suffix == "jpg"
                         ? meanDifference(saved, frameImage("mpeg4.avi", number(file))) < 2
                         : isFrame(saved, "mpeg4.avi", number(file)),
                     qPrintable(file));
        }
        QFile list(out.filePath(frmbulk::kFrameListName));
        QVERIFY(list.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(list.readAll()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), want.size() + 1);
        for (int i = 1; i < lines.size(); ++i) {
            const QStringList f = lines[i].split(',');
            QVERIFY2(f.size() == 6 && f[5] == want[i - 1] &&
                         f[3] == (oracle[f[0].toInt()].key ? "1" : "0") &&
                         (f[3] == "0" || f[4] == "I"),
                     qPrintable(lines[i]));
        }
        const QString last = want.last().section('.', 0, 0).mid(5);
        QCOMPARE(bulk->Label2->text(),
                 QString("Capturing Frame:%1/250  (1.0 frames/s, 0:00 left)").arg(last));
        QCOMPARE(m_desktop->messages.value(0),
                 "The frames have been captured and saved in the desired location");
        bulk->close();
    }

    // Finding the scene changes stops like a run: the dialog closed during the search
    // writes nothing, says nothing and gives the main window back.
    void sceneSearchStopsWhenClosed()
    {
        open("h264.mp4"); // 500 frames of 1080p: the search takes seconds
        QPointer<frmbulk> bulk = openBulk(m_dir.filePath("out"));
        bulk->optscenes->click();
        QString shown;
        QTimer::singleShot(300, bulk, [&] {
            shown = bulk->Label2->text();
            bulk->close();
        });
        bulk->cmdcapture->click();
        QVERIFY2(shown.startsWith("Finding Scene Changes:"), qPrintable(shown));
        QVERIFY(!QDir(m_dir.filePath("out")).exists() || written().isEmpty());
        QVERIFY(m_desktop->messages.isEmpty());
        QTRY_VERIFY(bulk.isNull());
        QVERIFY(m_main->isEnabled());
    }

    // HDR video is shown and copied tone-mapped while the setting is on, as it is at first;
    // turned off, the stored pixels come back, and the setting is kept for the next start.
    void hdrToneMapping()
    {
        QAction* setting = find<QAction>("&Tone-map HDR Video");
        QVERIFY(setting && setting->isChecked());
        open("pq.mp4");
        c().mnucopy->trigger();
        QVERIFY(isFrame(QGuiApplication::clipboard()->image(), "pq.mp4", 0, true));
        setting->trigger();
        QVERIFY(!Settings::toneMapHdr());
        c().mnucopy->trigger();
        QVERIFY(isFrame(QGuiApplication::clipboard()->image(), "pq.mp4", 0));
        m_main.reset();
        m_main = std::make_unique<frmmain>();
        QVERIFY(!find<QAction>("&Tone-map HDR Video")->isChecked());
        m_main->setEndProgram([] {});
        m_main->Form_Load();
        m_main->show();
        open("mpeg4.avi"); // standard range: the same either way
        c().mnucopy->trigger();
        QVERIFY(isFrame(QGuiApplication::clipboard()->image(), "mpeg4.avi", 0));
    }

    // The bulk dialog turns Repeat off and disables the main window while open; its sliders
    // move the player; frames go to the program's folder if it can take them. The folder
    // chooser opens on the current folder; OK takes the open one, Cancel nothing; a volume
    // that cannot be read gives the system's reason, then the last one comes back.
    void bulkDialog()
    {
        QPointer<frmbulk> bulk = openBulk(QString());
        QVERIFY(!m_main->isEnabled() && shared().norepeat && !bulk->sldfrom->isEnabled());
        QCOMPARE(bulk->txtfile->text(), corpus::path("mpeg4.avi"));
        QCOMPARE(bulk->txtout->text(), QCoreApplication::applicationDirPath() + '/');
        // A folder that cannot be written, and an installed program's, which can be (as
        // root) but belongs to the system: the user's pictures folder.
        for (const char* installed : {"/proc", "/usr/lib", "/opt"})
            QCOMPARE(frmbulk::defaultOutputFolder(installed),
                     QStandardPaths::writableLocation(QStandardPaths::PicturesLocation) +
                         "/Framix/");
        bulk->Option2->click();
        bulk->sldfrom->setValue(100);
        QTRY_COMPARE(player()->position(), 100);
        QCOMPARE(bulk->sldto->minimum(), 101);
        const QString out = QDir(m_dir.path()).canonicalPath() + "/out";
        QDir().mkpath(out + "/a");
        QDir::setCurrent(out);
        bulk->cmddir->click();
        QVERIFY(bulk->chooser() && !bulk->isEnabled() && bulk->chooser()->Dir1->path() == out);
        bulk->chooser()->Dir1->openRow(bulk->chooser()->Dir1->count() - 1); // subfolder "a"
        bulk->chooser()->Command1->click();
        QVERIFY(bulk->txtout->text() == out + "/a" && bulk->isEnabled());
        for (bool ok : {false, true}) {
            bulk->cmddir->click();
            QVERIFY(bulk->chooser()->Dir1->setPath("/"));
            (ok ? bulk->chooser()->Command1 : bulk->chooser()->Command2)->click();
            QCOMPARE(bulk->txtout->text(), ok ? "/" : out + "/a");
        }
        bulk->cmddir->click();
        frmdir* chooser = bulk->chooser();
        chooser->Drive1->setVolumes({"/", m_dir.filePath("unmounted")});
        chooser->Drive1->setCurrentIndex(0);
        chooser->Drive1_Change();
        chooser->Drive1->setCurrentIndex(1);
        QCOMPARE(m_desktop->messages.value(0), "No such file or directory");
        QVERIFY(chooser->Drive1->drive() == "/" && chooser->Dir1->path() == "/");
        chooser->close();
        bulk->close();
        QTRY_VERIFY(bulk.isNull());
        QVERIFY(m_main->isEnabled() && !shared().norepeat);
    }

    // Escape closes Bulk Capture; a file opened while it is open (here after the folder
    // chooser gave the main window back) is named before any frame is taken from it, and a
    // run never takes frames from a file it does not name.
    void bulkNamesTheFileItCaptures()
    {
        QPointer<frmbulk> bulk = openBulk(m_dir.filePath("out"));
        bulk->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(bulk));
        QTest::keyClick(bulk, Qt::Key_Escape);
        QTRY_VERIFY(bulk.isNull());
        QVERIFY(m_main->isEnabled());

        bulk = openBulk(m_dir.filePath("out"));
        bulk->cmddir->click();
        bulk->chooser()->Command2->click();
        QVERIFY(m_main->isEnabled() && bulk->isEnabled());
        m_main->media().openPath(corpus::path("wmv2.wmv"));
        QTRY_COMPARE(c().lblstate->text(), "stopped");
        // Back in the dialog it names the new file; a Begin before that says so and starts
        // nothing.
        if (bulk->txtfile->text() != corpus::path("wmv2.wmv")) {
            bulk->cmdcapture->click();
            QCOMPARE(m_desktop->messages.size(), 1);
            QVERIFY2(m_desktop->messages.first().contains("wmv2.wmv"),
                     qPrintable(m_desktop->messages.first()));
        }
        QVERIFY(written().isEmpty());
        QCOMPARE(bulk->txtfile->text(), corpus::path("wmv2.wmv"));
        QCOMPARE(bulk->sldto->maximum(), player()->length());
        // Named now: a range of it is captured from it.
        bulk->lsttypes->setCurrentRow(0);
        bulk->Option2->click();
        bulk->sldfrom->setValue(7);
        bulk->sldto->setValue(8);
        bulk->cmdcapture->click();
        QTRY_COMPARE(written(), QStringList({"frame7.bmp", "frame8.bmp"}));
        QVERIFY(isFrame(QImage(m_dir.filePath("out/frame8.bmp")), "wmv2.wmv", 8));
        bulk->close();
    }

    // A name whose ending is no picture type is asked for again; the next dialog opens in the
    // folder of the last save; a save that works ends a failure shown before it.
    void saveFrameNamesAndFolders()
    {
        QDir().mkpath(m_dir.filePath("out/shots"));
        m_desktop->answers = {m_dir.filePath("no/such/folder/a.bmp")};
        c().cmdcapture->click();
        QCOMPARE(c().lblstate->text(), "not saved");
        const QString gif = m_dir.filePath("out/shots/x.gif");
        const QString bmp = m_dir.filePath("out/shots/x.bmp");
        m_desktop->answers = {gif, bmp};
        c().cmdcapture->click();
        QCOMPARE(m_desktop->dialogs.size(), 3);
        QVERIFY2(m_desktop->messages.value(0).contains("x.gif"),
                 qPrintable(m_desktop->messages.value(0)));
        QCOMPARE(m_desktop->dialogs.at(2).initialName, "x.bmp");
        QVERIFY(!QFile::exists(gif) && QImageReader(bmp).format() == "bmp");
        QVERIFY(c().lblstate->text() != "not saved" && c().lblstate->toolTip().isEmpty());
        m_desktop->answers = {QString()};
        c().cmdcapture->click();
        QCOMPARE(m_desktop->dialogs.last().initialDir, m_dir.filePath("out/shots"));
    }

    // After Close no frame number is left; a minimised video window comes back when the next
    // file plays; the readout keeps its hours whatever the width of its text.
    void closedMinimisedAndLongTimes()
    {
        video()->setState(frmvideo::State::Minimised);
        m_main->media().mnuclose_Click();
        QVERIFY(c().lbllength->text().isEmpty());
        open("wmv2.wmv");
        c().cmdplay->click();
        QTRY_VERIFY(video()->isVisible() && !video()->isMinimized());
        c().cmdplay1->click();
        const QString longest = TimeText(((10 * 60 + 1) * 60 + 40) * 1000) + " / 1080000";
        SetFittedText(c().lbltime, longest);
        QCOMPARE(c().lbltime->text(), longest);
        QVERIFY(QFontMetrics(c().lbltime->font()).horizontalAdvance(longest) <=
                c().lbltime->contentsRect().width());
    }

    // A placement that no screen shows any more is replaced by the first run's; one partly
    // off the screen but with its caption within reach is kept.
    void placementsOffTheScreen()
    {
        QVERIFY(!frmvideo::onSomeScreen({-999999, 1000, 6500, 6500}));
        QVERIFY(!frmvideo::onSomeScreen({1000, 99999999, 6500, 6500}));
        QVERIFY(frmvideo::onSomeScreen({-3000, 1000, 6500, 6500}));
        QVERIFY(frmvideo::onSomeScreen({1000, 1000, 6500, 6500}));
        Settings::setVideoPlacement({-999999, -999999, 6500, 6500});
        frmmain fresh;
        fresh.Form_Load();
        QCOMPARE(fresh.videoWindow()->Left(), 1000.0);
        QCOMPARE(fresh.videoWindow()->Top(), 1000.0);
        Settings::setVideoPlacement({});
    }

    // The controls are reached with Tab, in the order they are laid out; Enter works a
    // focused button as Space does, and the keyboard stays with Play/Pause as they swap;
    // the arrows step a focused position slider; a click on its groove goes there.
    void keyboardAndSliders()
    {
        m_main->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_main.get()));
        c().cmdplay->setFocus();
        QVERIFY(c().cmdplay->hasFocus());
        QStringList reached;
        for (int i = 0; i < 6; ++i) {
            reached << QApplication::focusWidget()->toolTip();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        // At frame 0 the two backward buttons are off, and Tab passes them by.
        QCOMPARE(reached,
                 QStringList({"Play (F3)", "One Frame Forward (F8)", "Move to Last (F6)",
                              "Capture Current Frame (F9)", "Media info...", "Normal Size"}));
        c().cmdplay->setFocus();
        QTest::keyClick(c().cmdplay, Qt::Key_Return);
        QTRY_COMPARE(c().lblstate->text(), "playing");
        QTRY_VERIFY(c().cmdplay1->hasFocus());
        QTest::keyClick(c().cmdplay1, Qt::Key_Space);
        QTRY_COMPARE(c().lblstate->text(), "paused");
        QTRY_VERIFY(c().cmdplay->hasFocus());
        c().cmdback->click();
        QTRY_COMPARE(player()->position(), 0);
        c().Slider1->setFocus();
        QTest::keyClick(c().Slider1, Qt::Key_Right);
        QTest::keyClick(c().Slider1, Qt::Key_Right);
        QTRY_COMPARE(player()->position(), 2);
        QCOMPARE(c().lblstate->text(), "paused");
        // A file opened takes the keyboard from the slider to Play, so Space plays it.
        open("mpeg4.avi");
        QVERIFY(c().cmdplay->hasFocus());
        // A click two thirds along the groove jumps there, and the thumb follows playback
        // afterwards (also from the stopped state).
        QTest::mouseClick(c().Slider1, Qt::LeftButton, {},
                          QPoint(c().Slider1->width() * 2 / 3, c().Slider1->height() / 2));
        const int jumped = player()->position();
        QVERIFY2(std::abs(jumped - player()->length() * 2 / 3) < player()->length() / 10,
                 qPrintable(QString::number(jumped)));
        c().cmdplay->click();
        QTRY_VERIFY(player()->position() > jumped + 2);
        QTRY_VERIFY(c().cmdback->isEnabled());
        c().cmdback->click();
        QTRY_COMPARE(player()->position(), 0);
        QTRY_COMPARE(c().Slider1->value(), 0);
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    MainWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_mainwindow.moc"
