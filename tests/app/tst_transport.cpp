// The transport, sound, speed and view handlers on the real main window with real media:
// what each does to the player and to the buttons, labels and sliders.

#include "corpus.h"
#include "frmmain.h"
#include "frmvideo.h"
#include "settings.h"
#include "sharedstate.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>

using namespace framix;

class TransportTest : public QObject
{
    Q_OBJECT
    QTemporaryDir m_config;
    std::unique_ptr<frmmain> m_main;

    const MainControls& c() const { return m_main->controls(); }
    PlayerComponent* player() const { return m_main->videoWindow()->MCIWnd1; }
    frmvideo* video() const { return m_main->videoWindow(); }
    TransportCommands& t() { return m_main->transport(); }
    bool visible(QAbstractButton* b) const { return b->isVisibleTo(m_main.get()); }

    void open(const QString& clip)
    {
        m_main->media().openPath(corpus::path(clip));
        QTRY_COMPARE(c().lblstate->text(), QStringLiteral("stopped"));
        QTRY_VERIFY(shared().resizeok);
    }
    // The user drags the position slider to `frame`.
    void drag(int frame)
    {
        c().Slider1->setSliderDown(true);
        c().Slider1->setSliderPosition(frame); // Scroll, then Change
        c().Slider1->setSliderDown(false);
    }

private slots:
    void initTestCase() { Settings::setConfigDirForTesting(m_config.path()); }
    void init()
    {
        shared() = SharedState{};
        m_main = std::make_unique<frmmain>();
        m_main->setEndProgram([] {});
        m_main->Form_Load();
        m_main->show();
    }
    void cleanup() { m_main.reset(); }

    void playPauseAndTheButtonPair()
    {
        open(QStringLiteral("mpeg4.avi"));
        t().cmdplay_Click();
        QCOMPARE(player()->mode(), QStringLiteral("playing"));
        QVERIFY(!visible(c().cmdplay) && visible(c().cmdplay1));
        t().cmdplay1_Click();
        QCOMPARE(player()->mode(), QStringLiteral("paused"));
        QVERIFY(visible(c().cmdplay) && !visible(c().cmdplay1));
        // Play shows a hidden video window again.
        video()->close();
        QVERIFY(video()->isHidden());
        t().cmdplay_Click();
        QVERIFY(video()->isVisible());
    }

    void seekWhilePausedStaysPausedAndSendsPauseOnce()
    {
        open(QStringLiteral("mpeg4.avi"));
        t().cmdplay_Click();
        t().cmdplay1_Click();
        QTRY_COMPARE(c().lblstate->text(), QStringLiteral("paused"));
        QSignalSpy commands(player(), &PlayerComponent::commandReceived);
        drag(120);
        QCOMPARE(player()->position(), 120);
        QCOMPARE(commands.size(), 1);
        QCOMPARE(commands.first().at(0).toString(), QStringLiteral("pause"));
        QVERIFY(!shared().seeking);
        QCOMPARE(player()->mode(), QStringLiteral("paused"));
        QTRY_COMPARE(player()->shownFrame(), 120);
        QCOMPARE(c().lbllength->text(), QStringLiteral("Frame: 120"));
    }

    void seekWhilePlayingResumes()
    {
        open(QStringLiteral("mpeg4.avi"));
        t().cmdplay_Click();
        QTRY_COMPARE(c().lblstate->text(), QStringLiteral("playing"));
        QSignalSpy commands(player(), &PlayerComponent::commandReceived);
        drag(150);
        QCOMPARE(commands.size(), 1);
        QCOMPARE(commands.first().at(0).toString(), QStringLiteral("play"));
        QVERIFY(!shared().seeking);
        QCOMPARE(player()->mode(), QStringLiteral("playing"));
        QTRY_VERIFY(player()->position() > 150);
        // The slider follows playback again.
        QTRY_VERIFY(c().Slider1->value() > 150);
    }

    void programmaticSliderMovesNeverSeek()
    {
        open(QStringLiteral("mpeg4.avi"));
        QSignalSpy positions(player(), &PlayerComponent::PositionChange);
        c().Slider1->setValue(77); // not the user: no Scroll first
        QTest::qWait(50);
        QCOMPARE(player()->position(), 0);
        QCOMPARE(shared().seekpos, 77);
    }

    void moveToLastWithRepeatOnDoesNotRestart()
    {
        open(QStringLiteral("odd.avi")); // 10 frames
        QVERIFY(c().mnurepeat->isChecked());
        t().cmdplay_Click();
        QSignalSpy commands(player(), &PlayerComponent::commandReceived);
        t().cmdnext_Click();
        QCOMPARE(commands.first().at(0).toString(), QStringLiteral("stop"));
        QCOMPARE(player()->position(), player()->length());
        QTest::qWait(300);
        QVERIFY(player()->mode() != QStringLiteral("playing"));
        QCOMPARE(player()->position(), player()->length());
        QCOMPARE(c().lbllength->text(), QStringLiteral("Frame: 10"));
        QVERIFY(!c().cmdstep->isEnabled() && !c().cmdnext->isEnabled());
        // Repeat stays suspended until it is toggled or a file is opened.
        QVERIFY(shared().norepeat);
        QVERIFY(c().mnurepeat->isChecked());
    }

    // Without Repeat the end of the media rewinds and leaves the player stopped there.
    void endWithoutRepeatStopsAtTheStart()
    {
        open(QStringLiteral("odd.avi")); // 10 frames
        c().mnurepeat->trigger();
        QVERIFY(shared().norepeat);
        t().cmdplay_Click();
        QTRY_COMPARE(c().lblstate->text(), QStringLiteral("playing"));
        QTRY_COMPARE_WITH_TIMEOUT(c().lblstate->text(), QStringLiteral("stopped"), 5000);
        QTest::qWait(200);
        QCOMPARE(c().lblstate->text(), QStringLiteral("stopped"));
        QCOMPARE(player()->mode(), QStringLiteral("stopped"));
        QCOMPARE(player()->position(), 0);
        QVERIFY(visible(c().cmdplay) && !visible(c().cmdplay1));
    }

    void stepsAndFirst()
    {
        open(QStringLiteral("mpeg4.avi"));
        t().cmdstep_Click();
        t().cmdstep_Click();
        t().cmdseek_Click();
        QCOMPARE(player()->position(), 1);
        QTRY_COMPARE(player()->shownFrame(), 1);
        t().cmdback_Click();
        QCOMPARE(player()->position(), 0);
        QTRY_VERIFY(!c().cmdseek->isEnabled() && !c().cmdback->isEnabled());
    }

    void repeatToggleTwice()
    {
        QVERIFY(c().mnurepeat->isChecked());
        QVERIFY(!shared().norepeat);
        c().mnurepeat->trigger();
        QVERIFY(!c().mnurepeat->isChecked());
        QVERIFY(shared().norepeat);
        c().mnurepeat->trigger();
        QVERIFY(c().mnurepeat->isChecked());
        QVERIFY(!shared().norepeat);
    }

    void volumeAndMute()
    {
        open(QStringLiteral("mpeg4.avi"));
        c().Slider2->setValue(c().Slider2->minimum());
        QCOMPARE(player()->volume(), 10);
        c().Slider2->setValue(50);
        QCOMPARE(player()->volume(), 500);
        QCOMPARE(shared().curvolume, 500);
        c().cmdmute->click();
        QCOMPARE(player()->volume(), 0);
        QVERIFY(c().mnumute->isChecked());
        QVERIFY(visible(c().cmdmute1) && !visible(c().cmdmute));
        // Moving the slider while muted makes it audible; the mute mark stays.
        c().Slider2->setValue(30);
        QCOMPARE(player()->volume(), 300);
        QVERIFY(c().mnumute->isChecked());
        // Unmute takes the slider's current value, not the one before muting.
        c().Slider2->setValue(60);
        c().mnumute->trigger();
        QCOMPARE(player()->volume(), 600);
        QVERIFY(!c().mnumute->isChecked());
        QVERIFY(!visible(c().cmdmute1) && visible(c().cmdmute));
        // Open re-applies the slider's volume even while muted.
        c().mnumute->trigger();
        QCOMPARE(player()->volume(), 0);
        open(QStringLiteral("mpeg1.mpg"));
        QCOMPARE(player()->volume(), 600);
        QVERIFY(c().mnumute->isChecked());
    }

    void speedButtonsAndSlider()
    {
        open(QStringLiteral("mpeg4.avi"));
        c().cmdfast->click();
        QCOMPARE(player()->speed(), 2000);
        QVERIFY(visible(c().cmdfast1) && !visible(c().cmdfast));
        QCOMPARE(c().Slider3->value(), 1000); // the buttons do not move the slider
        c().Slider3->setValue(1500);
        QCOMPARE(player()->speed(), 1500);
        QVERIFY(visible(c().cmdfast1));
        c().Command1->click(); // DEFAULT
        QCOMPARE(c().Slider3->value(), 1000);
        QCOMPARE(player()->speed(), 1000);
        QVERIFY(visible(c().cmdfast1) && !visible(c().cmdfast)); // "1X" still shown
        // DEFAULT also ends a double speed when the slider already reads normal.
        c().cmdfast1->click();
        c().cmdfast->click();
        QCOMPARE(player()->speed(), 2000);
        c().Command1->click();
        QCOMPARE(player()->speed(), 1000);
        c().cmdfast1->click();
        QCOMPARE(player()->speed(), 1000);
        QVERIFY(!visible(c().cmdfast1) && visible(c().cmdfast));
    }

    void zoomSizesTheWindow()
    {
        open(QStringLiteral("mpeg4.avi")); // 320x240
        t().mnuhalf_Click();
        QCOMPARE(player()->zoom(), 50);
        QCOMPARE(video()->heightTwips(), player()->heightTwips() + 495);
        // The whole picture shows: the picture area is exactly the player.
        QCOMPARE(video()->widthTwips(), player()->widthTwips() + 30);
        QCOMPARE(video()->size(), player()->size());
        QCOMPARE(player()->size(), QSize(160, 120));
        t().mnudouble_Click();
        QCOMPARE(player()->size(), QSize(640, 480));
        QCOMPARE(video()->heightTwips(), player()->heightTwips() + 495);

        // Normal on a maximised window restores it first.
        video()->setState(frmvideo::State::FullScreen);
        QTRY_COMPARE(video()->state(), frmvideo::State::FullScreen);
        t().mnunormal_Click();
        QTRY_COMPARE(video()->state(), frmvideo::State::Normal);
        QCOMPARE(player()->zoom(), 100);
        QCOMPARE(video()->heightTwips(), player()->heightTwips() + 495);
    }

    void fullScreenAndBack()
    {
        open(QStringLiteral("mpeg4.avi"));
        t().mnufullscreen_Click();
        QVERIFY(shared().fullscreen);
        QCOMPARE(video()->state(), frmvideo::State::FullScreen);
        // The player was made to fill the screen, and that did not end full screen.
        QTRY_COMPARE(player()->size(), video()->size());
        t().mnufullscreen_Click();
        QTest::qWait(100);
        QVERIFY(shared().fullscreen);
        QCOMPARE(video()->state(), frmvideo::State::FullScreen);

        // Escape leaves full screen: the picture is back at 100 % with the window around it.
        QTest::keyClick(video(), Qt::Key_Escape);
        QTRY_VERIFY(!shared().fullscreen);
        QTRY_COMPARE(video()->state(), frmvideo::State::Normal);
        QCOMPARE(player()->zoom(), 100);
        QTRY_COMPARE(player()->size(), QSize(320, 240));
        QCOMPARE(video()->heightTwips(), player()->heightTwips() + 495);
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    TransportTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_transport.moc"
