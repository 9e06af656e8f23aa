// The main window with real media: opening and closing with the four control states, the
// menu-opening refreshes, the transport keys, load and unload, and drag and drop.

#include "corpus.h"
#include "desktop.h"
#include "frmmain.h"
#include "frmvideo.h"
#include "settings.h"
#include "sharedstate.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>

using namespace framix;

namespace {

// Answers the open dialog with a scripted path ("" = Cancel) and records what was asked.
class ScriptedDesktop : public Desktop
{
public:
    QString answer;
    int dialogs = 0;
    FileRequest last;
    bool ownerWasEnabled = true;
    quint32 ticks = 0;
    bool fileDialog(const FileRequest& request, QString* path) override
    {
        ++dialogs;
        last = request;
        ownerWasEnabled = request.owner && request.owner->isEnabled();
        if (answer.isEmpty())
            return false;
        *path = answer;
        return true;
    }
    void message(QWidget*, const QString&, const QString&, Icon) override {}
    quint32 tickCount() override { return ticks += 1000; } // every dialog "came up"
};

bool visible(QWidget* w)
{
    return w->isVisibleTo(w->window());
}

} // namespace

class MainWindowTest : public QObject
{
    Q_OBJECT
    QTemporaryDir m_config;
    ScriptedDesktop m_desktop;
    std::unique_ptr<frmmain> m_main;
    int m_ended = 0;

    const MainControls& c() const { return m_main->controls(); }
    PlayerComponent* player() const { return m_main->videoWindow()->MCIWnd1; }

    void open(const QString& clip)
    {
        m_desktop.answer = clip.isEmpty() ? QString() : corpus::path(clip);
        m_main->media().mnuopen_Click();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_config.isValid());
        Settings::setConfigDirForTesting(m_config.path());
        Desktop::setInstance(&m_desktop);
    }
    void cleanupTestCase() { Desktop::setInstance(nullptr); }

    void init()
    {
        shared() = SharedState{};
        m_main = std::make_unique<frmmain>();
        m_main->setEndProgram([this] { ++m_ended; });
        m_main->Form_Load();
        m_main->show();
        m_ended = 0;
        m_desktop.dialogs = 0;
    }
    void cleanup() { m_main.reset(); }

    void startsWithTheDesignState()
    {
        QCOMPARE(m_main->windowTitle(), QStringLiteral("Framix"));
        QCOMPARE(m_main->widthTwips(), 5700.0);
        QCOMPARE(c().Slider3->value(), 1000);
        QCOMPARE(c().Slider2->value(), 80);
        QCOMPARE(player()->volume(), 800);
        QCOMPARE(player()->speed(), 1000);
        QCOMPARE(player()->deviceType(), QStringLiteral("MPEGVideo2"));
        QVERIFY(!c().cmdplay->isEnabled() && visible(c().cmdplay));
        QVERIFY(!visible(c().cmdplay1) && !visible(c().cmdmute1) && !visible(c().cmdfast1));
        QVERIFY(c().mnurepeat->isChecked());
        QVERIFY(!c().mnuclose->isEnabled() && !c().mnuview->isEnabled());
        QCOMPARE(c().mnuforward->shortcut(), QKeySequence(Qt::Key_F8));
        QCOMPARE(c().mnuhalf->text(), QStringLiteral("&Half Size (50%)"));
        QVERIFY(m_main->videoWindow()->isHidden());
        QCOMPARE(m_main->videoWindow()->widthTwips(), 6500.0);
    }

    void opensAVideoFile()
    {
        open(QStringLiteral("mpeg4.avi"));
        QCOMPARE(m_desktop.dialogs, 1);
        QCOMPARE(m_desktop.last.title, QStringLiteral("Open..."));
        QVERIFY(!m_desktop.last.saveMode);
        QVERIFY(!m_desktop.ownerWasEnabled); // the main window is disabled during the dialog
        QVERIFY(m_main->isEnabled());

        const int length = corpus::oracle(QStringLiteral("mpeg4.avi")).size();
        QCOMPARE(player()->fileName(), corpus::path(QStringLiteral("mpeg4.avi")));
        QCOMPARE(c().Slider1->minimum(), 0);
        QCOMPARE(c().Slider1->maximum(), length);
        QCOMPARE(m_main->videoWindow()->windowTitle(), QStringLiteral("mpeg4.avi"));
        QCOMPARE(c().lbllength->text(), QStringLiteral("Frame: 0"));
        QVERIFY(m_main->videoWindow()->isVisible());
        QVERIFY(!shared().audioonly);
        // video + activate
        for (QAbstractButton* b : {c().cmdplay, c().cmdplay1, c().cmdinfo, c().cmdcapture,
                                   c().cmdfast, c().cmdfast1, c().cmdnormal, c().cmdfullscreen})
            QVERIFY2(b->isEnabled(), qPrintable(b->toolTip()));
        QVERIFY(c().Slider1->isEnabled() && c().Slider3->isEnabled());
        QVERIFY(c().mnuview->isEnabled() && c().mnucapture->isEnabled() &&
                c().mnubulk->isEnabled());
        QVERIFY(c().mnuinfo->isEnabled() && c().mnufullscreen->isEnabled());
        // Open never plays; the player's reports then fit the window and fill the labels.
        QTRY_COMPARE(c().lblstate->text(), QStringLiteral("stopped"));
        QTRY_COMPARE(m_main->videoWindow()->heightTwips(), player()->heightTwips() + 495);
        QCOMPARE(player()->mode(), QStringLiteral("stopped"));
        QVERIFY(!visible(c().cmdplay1));
    }

    void opensASoundOnlyFile()
    {
        open(QStringLiteral("sound.mp2"));
        QCOMPARE(player()->heightTwips(), 30.0);
        QVERIFY(m_main->videoWindow()->isHidden());
        QVERIFY(shared().audioonly);
        for (QAbstractButton* b :
             {c().cmdplay, c().cmdback, c().cmdnext, c().cmdseek, c().cmdstep, c().cmdinfo})
            QVERIFY(b->isEnabled());
        QVERIFY(c().Slider3->isEnabled() && c().mnuinfo->isEnabled());
        for (QAbstractButton* b : {c().cmdcapture, c().cmdfast, c().cmdfast1})
            QVERIFY(!b->isEnabled());
        QVERIFY(!c().mnuview->isEnabled() && !c().mnufullscreen->isEnabled());
        QVERIFY(!c().mnucapture->isEnabled() && !c().mnubulk->isEnabled());
        // Play sends "play" without showing the window; restoring the main window does not
        // show it either.
        m_main->transport().cmdplay_Click();
        QCOMPARE(player()->mode(), QStringLiteral("playing"));
        QVERIFY(m_main->videoWindow()->isHidden());
        m_main->showMinimized();
        m_main->showNormal();
        QTest::qWait(50);
        QVERIFY(m_main->videoWindow()->isHidden());
    }

    void openingAnotherFileClosesTheFirst()
    {
        open(QStringLiteral("mpeg4.avi"));
        m_main->transport().cmdplay_Click();
        QTRY_COMPARE(c().lblstate->text(), QStringLiteral("playing"));
        QSignalSpy modes(player(), &PlayerComponent::ModeChange);
        open(QStringLiteral("mpeg1.mpg"));
        QCOMPARE(player()->fileName(), corpus::path(QStringLiteral("mpeg1.mpg")));
        QCOMPARE(player()->mode(), QStringLiteral("stopped"));
        QCOMPARE(c().Slider1->maximum(), corpus::oracle(QStringLiteral("mpeg1.mpg")).size());
        // The old media's report of its closing was handled before the new one loaded.
        QVERIFY(!modes.isEmpty());
        QCOMPARE(modes.first().at(0).toInt(), int(PlayerComponent::NotReady));
        QTRY_COMPARE(c().lblstate->text(), QStringLiteral("stopped"));
        // The new media offers Play, and its key works.
        QVERIFY(visible(c().cmdplay) && !visible(c().cmdplay1));
        QVERIFY(c().mnuplay->isEnabled());
    }

    void cancelAndMissingFilesChangeNothing()
    {
        open(QStringLiteral("mpeg4.avi"));
        m_main->transport().cmdplay_Click();
        open(QString()); // Cancel
        QCOMPARE(m_desktop.dialogs, 2);
        m_desktop.answer = corpus::path(QStringLiteral("no-such-file.mpg"));
        m_main->media().mnuopen_Click();
        m_desktop.answer = corpus::dir(); // a folder is not a file
        m_main->media().mnuopen_Click();
        QCOMPARE(player()->fileName(), corpus::path(QStringLiteral("mpeg4.avi")));
        QCOMPARE(player()->mode(), QStringLiteral("playing"));
        QVERIFY(m_main->videoWindow()->isVisible());
        // ... except the state label, which says why nothing was opened.
        QCOMPARE(c().lblstate->text(), QStringLiteral("cannot open"));
        QVERIFY(c().lblstate->toolTip().contains(QStringLiteral("folder")));
    }

    // Every type the program plays is offered without "All Files", and the dialog opens
    // where the last file came from.
    void theOpenDialogOffersEveryVideoType()
    {
        open(QStringLiteral("mpeg4.avi"));
        const QString first = m_desktop.last.nameFilters.value(0);
        for (const char* type : {"*.mp4", "*.mkv", "*.mov", "*.webm", "*.ts", "*.mpg", "*.avi"})
            QVERIFY2(first.contains(QLatin1String(type)), qPrintable(first));
        QVERIFY(m_desktop.last.nameFilters.contains(QStringLiteral("All Files (*)")));
        open(QStringLiteral("mpeg1.mpg"));
        QCOMPARE(QDir(m_desktop.last.initialDir).canonicalPath(),
                 QDir(corpus::dir()).canonicalPath());
    }

    void aFileThePlayerRefusesEndsOpenQuietly()
    {
        open(QStringLiteral("mpeg4.avi"));
        open(QStringLiteral("text.mpg"));
        QCOMPARE(c().lblstate->text(), QStringLiteral("cannot open"));
        QVERIFY(c().lblstate->toolTip().contains(QStringLiteral("text.mpg")));
        // Closed by step 4, then the load failed: the disable state, the window hidden.
        QCOMPARE(player()->fileName(), QString());
        QVERIFY(!c().cmdplay->isEnabled() && !c().Slider1->isEnabled());
        QVERIFY(m_main->videoWindow()->isHidden());
    }

    void closeAndTheFileMenuRefresh()
    {
        m_main->mnufile_Click();
        QVERIFY(!c().mnuclose->isEnabled());
        open(QStringLiteral("mpeg4.avi"));
        m_main->mnufile_Click();
        QVERIFY(c().mnuclose->isEnabled());
        m_main->transport().cmdplay_Click();
        c().mnuclose->trigger();
        QCOMPARE(player()->fileName(), QString());
        QVERIFY(m_main->videoWindow()->isHidden());
        // disable: Pause hidden, Play's visibility left alone (hidden while it was playing).
        QVERIFY(!visible(c().cmdplay1) && !visible(c().cmdplay));
        QVERIFY(!c().cmdplay->isEnabled() && !c().cmdinfo->isEnabled());
        QVERIFY(!c().mnuview->isEnabled() && !c().mnuinfo->isEnabled());
        m_main->mnufile_Click();
        QVERIFY(!c().mnuclose->isEnabled());
    }

    void theControlsMenuRefresh()
    {
        // No media: nothing changes, even if the items were left enabled.
        c().mnuplay->setEnabled(true);
        m_main->mnucontrol_Click();
        QVERIFY(c().mnuplay->isEnabled() && !c().mnuforward->isEnabled());

        open(QStringLiteral("mpeg4.avi"));
        QTRY_VERIFY(c().cmdnext->isEnabled()); // from the player's first position report
        QVERIFY(!c().cmdback->isEnabled());
        m_main->mnucontrol_Click();
        QVERIFY(c().mnuplay->isEnabled() && !c().mnupause->isEnabled());
        QVERIFY(!c().mnufirst->isEnabled() && !c().mnuback->isEnabled());
        QVERIFY(c().mnulast->isEnabled() && c().mnuforward->isEnabled());
        m_main->transport().cmdplay_Click();
        m_main->mnucontrol_Click();
        QVERIFY(!c().mnuplay->isEnabled() && c().mnupause->isEnabled());
    }

    void keysStepThroughFrames()
    {
        open(QStringLiteral("mpeg4.avi"));
        QTRY_COMPARE(c().lblstate->text(), QStringLiteral("stopped"));
        m_main->activateWindow();
        // F8 works right after opening, without the Controls menu having been opened.
        for (int i = 0; i < 3; ++i)
            QTest::keyClick(m_main.get(), Qt::Key_F8);
        QTRY_COMPARE(c().lbllength->text(), QStringLiteral("Frame: 3"));
        // A secondary window disables the main window while it is open (Tip of the Day,
        // Bulk Capture); reports that arrive meanwhile must not leave the keys dead.
        m_main->setEnabled(false);
        player()->setPosition(4);
        QTRY_COMPARE(c().lbllength->text(), QStringLiteral("Frame: 4"));
        m_main->setEnabled(true);
        QTest::keyClick(m_main.get(), Qt::Key_F8);
        QTRY_COMPARE(c().lbllength->text(), QStringLiteral("Frame: 5"));
        QTest::keyClick(m_main.get(), Qt::Key_F7);
        QTest::keyClick(m_main.get(), Qt::Key_F7);
        QTest::keyClick(m_main.get(), Qt::Key_F7);
        QTRY_COMPARE(c().lbllength->text(), QStringLiteral("Frame: 2"));
        QCOMPARE(c().Slider1->value(), 2);
        QVERIFY(shared().norepeat); // stepping suspends Repeat
        QTest::keyClick(m_main.get(), Qt::Key_F6);
        QTRY_COMPARE(player()->position(), player()->length());
        QTRY_VERIFY(!c().cmdnext->isEnabled() && !c().cmdstep->isEnabled());
        QTRY_COMPARE(player()->shownFrame(), player()->length() - 1);
    }

    void exitAndUnload()
    {
        // Exit with nothing open ends at once without touching the player or the store.
        const auto before = Settings::videoPlacement();
        c().mnuclose->parentWidget(); // keep the menu alive
        QMetaObject::invokeMethod(m_main.get(), [this] { m_main->media().mnuexit_Click(); });
        QCOMPARE(m_ended, 1);
        QCOMPARE(Settings::videoPlacement().left, before.left);

        // Exit with media open closes it first (the video window saves its placement).
        open(QStringLiteral("mpeg4.avi"));
        m_main->videoWindow()->setLeft(2400);
        m_main->media().mnuexit_Click();
        QCOMPARE(m_ended, 2);
        QCOMPARE(player()->fileName(), QString());
        QCOMPARE(Settings::videoPlacement().left, 2400.0);

        // Closing the main window stores the volume slider and ends the program.
        c().Slider2->setValue(37);
        m_main->close();
        QCOMPARE(m_ended, 3);
        QCOMPARE(Settings::volume(), std::optional<int>(37));
        // ... and the next start brings the slider back there.
        frmmain next;
        next.setEndProgram([] {});
        next.Form_Load();
        QCOMPARE(next.controls().Slider2->value(), 37);
        QCOMPARE(next.videoWindow()->MCIWnd1->volume(), 370);
        Settings::setVolume(80);
    }

    void sidePanelToggle()
    {
        m_main->Command2_Click();
        QCOMPARE(m_main->widthTwips(), 10710.0);
        m_main->Command2_Click();
        QCOMPARE(m_main->widthTwips(), 5700.0);
    }

    void droppingAFileOpensIt()
    {
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(corpus::path(QStringLiteral("wmv2.wmv")))});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(m_main.get(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(m_main.get(), &drop);
        QVERIFY(drop.isAccepted());
        QTRY_COMPARE(player()->fileName(), corpus::path(QStringLiteral("wmv2.wmv")));
        QCOMPARE(m_desktop.dialogs, 0);
        QVERIFY(m_main->videoWindow()->isVisible());
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    MainWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_mainwindow.moc"
