// The video window's handlers of the player's reports, its placement and its close
// request, driven with a real player on real media and real main-window controls.

#include "corpus.h"
#include "frmvideo.h"
#include "settings.h"
#include "sharedstate.h"
#include "twips.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

using namespace framix;

namespace {

// The main-window controls the handlers write, without the main window.
struct Controls
{
    QWidget owner;
    MainControls c;
    std::vector<std::unique_ptr<QAction>> actions;
    QMenu view;

    Controls()
    {
        auto button = [this] { return new QPushButton(&owner); };
        c.frmmain = &owner;
        c.cmdplay = button();
        c.cmdplay1 = button();
        c.cmdback = button();
        c.cmdnext = button();
        c.cmdseek = button();
        c.cmdstep = button();
        c.cmdcapture = button();
        c.cmdinfo = button();
        c.cmdfullscreen = button();
        c.cmdnormal = button();
        c.cmdmute = button();
        c.cmdmute1 = button();
        c.cmdfast = button();
        c.cmdfast1 = button();
        c.Command1 = button();
        c.Slider1 = new QSlider(&owner);
        c.Slider2 = new QSlider(&owner);
        c.Slider3 = new QSlider(&owner);
        c.lblstate = new QLabel(&owner);
        c.lbllength = new QLabel(&owner);
        c.Slider1->setRange(0, 10);
        owner.show();
    }
};

// A video window with mpeg4.avi (320x240) loaded, shown and fitted.
struct LoadedWindow
{
    Controls ui;
    frmvideo video{ui.c};
    PlayerComponent* player = video.MCIWnd1;

    bool load()
    {
        if (!player->setFileName(corpus::path(QStringLiteral("mpeg4.avi"))))
            return false;
        video.show();
        return QTest::qWaitFor([] { return shared().resizeok; });
    }
};

} // namespace

class VideoWindowTest : public QObject
{
    Q_OBJECT
    QTemporaryDir m_config;

private slots:
    void initTestCase()
    {
        QVERIFY(m_config.isValid());
        Settings::setConfigDirForTesting(m_config.path());
    }
    void init() { shared() = SharedState{}; }

    void placementRoundTrip()
    {
        Controls ui;
        {
            frmvideo first(ui.c);
            first.Form_Load(); // empty store: the defaults
            QCOMPARE(first.widthTwips(), 6500.0);
            QCOMPARE(first.heightTwips(), 6500.0);
            first.show();
            first.setLeft(1500);
            first.setTop(2250);
            first.setWidthTwips(4530);
            first.setHeightTwips(3495);
            QTRY_COMPARE(first.Left(), 1500.0);
            first.close(); // refused: hidden, placement saved
            QVERIFY(!first.isVisible());
        }
        frmvideo second(ui.c);
        second.Form_Load();
        QCOMPARE(second.Left(), 1500.0);
        QCOMPARE(second.Top(), 2250.0);
        QCOMPARE(second.widthTwips(), 4530.0);
        QCOMPARE(second.heightTwips(), 3495.0);
    }

    void reportsDriveTheMainControls()
    {
        Controls ui;
        frmvideo video(ui.c);
        PlayerComponent* player = video.MCIWnd1;
        QVERIFY(player->setFileName(corpus::path(QStringLiteral("mpeg4.avi"))));
        ui.c.Slider1->setRange(0, player->length());
        video.show();
        // New media: the window is fitted around the player at 100 %.
        QTRY_VERIFY(shared().resizeok);
        QCOMPARE(video.heightTwips(), player->heightTwips() + 495);
        QCOMPARE(video.widthTwips(), player->widthTwips() + 30);

        // The navigation buttons follow the position: at 0 the backward pair is off, at
        // Length the forward pair.
        player->setPosition(0);
        QTRY_COMPARE(ui.c.lbllength->text(), QStringLiteral("Frame: 0"));
        QVERIFY(!ui.c.cmdseek->isEnabled() && !ui.c.cmdback->isEnabled());
        QVERIFY(ui.c.cmdstep->isEnabled() && ui.c.cmdnext->isEnabled());
        player->setPosition(player->length());
        QTRY_COMPARE(ui.c.lbllength->text(), QStringLiteral("Frame: %1").arg(player->length()));
        QVERIFY(ui.c.cmdseek->isEnabled() && ui.c.cmdback->isEnabled());
        QVERIFY(!ui.c.cmdstep->isEnabled() && !ui.c.cmdnext->isEnabled());
        QCOMPARE(ui.c.Slider1->value(), player->length());
        QCOMPARE(ui.c.lblstate->text(), QStringLiteral("paused"));

        // While the user drags, the frame label follows the player but the slider not.
        shared().seeking = true;
        player->setPosition(17);
        QTRY_COMPARE(ui.c.lbllength->text(), QStringLiteral("Frame: 17"));
        QCOMPARE(ui.c.Slider1->value(), player->length());
        shared().seeking = false;

        // Play / pause swap the pair.
        player->setCommand(QStringLiteral("play"));
        QTRY_COMPARE(ui.c.lblstate->text(), QStringLiteral("playing"));
        QVERIFY(ui.c.cmdplay1->isVisibleTo(&ui.owner) && !ui.c.cmdplay->isVisibleTo(&ui.owner));
        player->setCommand(QStringLiteral("pause"));
        QTRY_COMPARE(ui.c.lblstate->text(), QStringLiteral("paused"));
        QVERIFY(!ui.c.cmdplay1->isVisibleTo(&ui.owner) && ui.c.cmdplay->isVisibleTo(&ui.owner));
    }

    void stopRewindsAndRepeatRestarts()
    {
        Controls ui;
        frmvideo video(ui.c);
        PlayerComponent* player = video.MCIWnd1;
        QVERIFY(player->setFileName(corpus::path(QStringLiteral("odd.avi"))));
        player->setSpeed(2000); // one pass takes 1 s

        // Repeat off: the stop at the end rewinds to 0 and stays there, showing frame 0.
        shared().norepeat = true;
        QSignalSpy ended(player, &PlayerComponent::ModeChange);
        player->setCommand(QStringLiteral("play"));
        QTRY_VERIFY_WITH_TIMEOUT(ended.count() >= 2, 4000);
        QCOMPARE(ended.at(1).at(0).toInt(), int(PlayerComponent::Stopped));
        QCOMPARE(player->position(), 0);
        QTRY_COMPARE(player->shownFrame(), 0);
        QCOMPARE(ui.c.cmdplay->isVisibleTo(&ui.owner), true);
        QTest::qWait(100);
        QVERIFY(player->mode() != QStringLiteral("playing"));

        // Repeat on: the stop rewinds and plays again, so the media loops.
        shared().norepeat = false;
        QSignalSpy modes(player, &PlayerComponent::ModeChange);
        player->setCommand(QStringLiteral("play"));
        QTRY_VERIFY_WITH_TIMEOUT(modes.count() >= 3, 4000); // playing, stopped, playing
        QCOMPARE(modes.at(1).at(0).toInt(), int(PlayerComponent::Stopped));
        QCOMPARE(modes.at(2).at(0).toInt(), int(PlayerComponent::Playing));
        QCOMPARE(player->mode(), QStringLiteral("playing"));
        QVERIFY(ui.c.cmdplay1->isVisibleTo(&ui.owner));
    }

    void closeRequestPausesHidesAndSkipsMinimised()
    {
        Controls ui;
        frmvideo video(ui.c);
        video.Form_Load();
        PlayerComponent* player = video.MCIWnd1;
        QVERIFY(player->setFileName(corpus::path(QStringLiteral("mpeg4.avi"))));
        video.show();
        player->setCommand(QStringLiteral("play"));
        video.close();
        QVERIFY(video.isHidden());
        QCOMPARE(player->mode(), QStringLiteral("paused"));
        const Settings::Placement saved = Settings::videoPlacement();

        video.show();
        video.setWidthTwips(saved.width + 1500);
        video.setState(frmvideo::State::Minimised);
        QTRY_COMPARE(video.state(), frmvideo::State::Minimised);
        video.close();
        QCOMPARE(Settings::videoPlacement().width, saved.width);
    }

    // Pictures larger than the screen's work area (4K, a phone's portrait video) first show
    // smaller, their shape kept, the window wholly on the screen; the zoom still says 100 %.
    void largePicturesOpenWithinTheScreen_data()
    {
        QTest::addColumn<QString>("clip");
        for (const char* c : {"3840x2160.mp4", "1080x1920.mp4", "720x1280.mp4"})
            QTest::newRow(c) << qEnvironmentVariable("FRAMIX_TEST_SIZES") + '/' + c;
    }
    void largePicturesOpenWithinTheScreen()
    {
        QFETCH(QString, clip);
        Controls ui;
        frmvideo video(ui.c);
        PlayerComponent* player = video.MCIWnd1;
        video.Form_Load();
        video.show();
        QVERIFY(player->setFileName(clip));
        QTRY_VERIFY(shared().resizeok);
        const QRect area = video.screen()->availableGeometry();
        const QSize stored(player->mediaInfo().displayWidth(), player->mediaInfo().height);
        QVERIFY(stored.width() > area.width() || stored.height() > area.height());
        const QRect outer(
            QPoint(twips::toPixels(video.Left()), twips::toPixels(video.Top())),
            QSize(twips::toPixels(video.widthTwips()), twips::toPixels(video.heightTwips())));
        QVERIFY2(area.contains(outer), qPrintable(QString("%1x%2+%3+%4 in %5x%6")
                                                      .arg(outer.width())
                                                      .arg(outer.height())
                                                      .arg(outer.x())
                                                      .arg(outer.y())
                                                      .arg(area.width())
                                                      .arg(area.height())));
        QCOMPARE(player->zoom(), 100);
        const double shape = double(stored.width()) / stored.height();
        QVERIFY(std::abs(double(player->width()) / player->height() - shape) < 0.02 * shape);
    }

    void userResizeMakesThePlayerFollow()
    {
        LoadedWindow w;
        QVERIFY(w.load());
        PlayerComponent* player = w.player;
        frmvideo& video = w.video;
        video.resize(500, 400); // as the user would drag it
        QTRY_COMPARE(player->size(), QSize(500, 400));
        QCOMPARE(player->heightTwips(), video.heightTwips() - 495);
        QCOMPARE(player->widthTwips(), video.widthTwips() - 30);
    }
};

QObject* makeVideoWindowTest()
{
    return new VideoWindowTest;
}

#include "tst_videowindow.moc"
