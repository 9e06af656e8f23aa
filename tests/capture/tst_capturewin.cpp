// Capturing from the real main window with real media: the frame on screen into a named
// file, the bulk dialog's runs, Cancel and closing during a run, failures, and the folder
// chooser.

#include "corpus.h"
#include "desktop.h"
#include "frameconverter.h"
#include "frmbulk.h"
#include "frmdir.h"
#include "frmmain.h"
#include "frmvideo.h"
#include "mcommon.h"
#include "settings.h"
#include "sharedstate.h"
#include "videosource.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSlider>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace framix;

namespace {

class ScriptedDesktop : public Desktop
{
public:
    QString answer; // "" = Cancel
    FileRequest last;
    struct Message
    {
        QString text, title;
        Icon icon;
    };
    QList<Message> messages;
    quint32 ticks = 0;
    bool fileDialog(const FileRequest& request, QString* path) override
    {
        last = request;
        if (answer.isEmpty())
            return false;
        *path = answer;
        return true;
    }
    void message(QWidget*, const QString& text, const QString& title, Icon icon) override
    {
        messages.append({text, title, icon});
    }
    quint32 tickCount() override { return ticks += 1000; }
};

// The engine's own picture of frame n, to compare saved files with.
QImage engineFrame(const QString& clip, int n)
{
    VideoSource source;
    if (!source.open(corpus::path(clip), nullptr))
        return {};
    FrameConverter converter;
    const auto frame = source.frame(n);
    return frame ? converter.toBgrImage(*frame).convertToFormat(QImage::Format_RGB888) : QImage();
}

bool samePicture(const QString& file, const QImage& expected)
{
    const QImage saved(file);
    return !saved.isNull() && saved.convertToFormat(QImage::Format_RGB888) ==
                                  expected.convertToFormat(QImage::Format_RGB888);
}

} // namespace

class CaptureTest : public QObject
{
    Q_OBJECT
    QTemporaryDir m_config;
    ScriptedDesktop m_desktop;
    std::unique_ptr<frmmain> m_main;
    QTemporaryDir m_out;

    const MainControls& c() const { return m_main->controls(); }
    PlayerComponent* player() const { return m_main->videoWindow()->MCIWnd1; }
    void open(const QString& clip)
    {
        m_main->media().openPath(corpus::path(clip));
        QTRY_COMPARE(c().lblstate->text(), QStringLiteral("stopped"));
    }
    frmbulk* openBulk()
    {
        c().mnubulk->trigger();
        return m_main->capture().bulkDialog();
    }
    QStringList written() const
    {
        return QDir(m_out.path()).entryList({QStringLiteral("*.bmp")}, QDir::Files);
    }

private slots:
    void initTestCase()
    {
        Settings::setConfigDirForTesting(m_config.path());
        Desktop::setInstance(&m_desktop);
    }
    void cleanupTestCase() { Desktop::setInstance(nullptr); }
    void init()
    {
        shared() = SharedState{};
        m_desktop.messages.clear();
        m_desktop.answer.clear();
        QVERIFY(m_out.isValid());
        QDir(m_out.path()).removeRecursively();
        QDir().mkpath(m_out.path());
        m_main = std::make_unique<frmmain>();
        m_main->setEndProgram([] {});
        m_main->Form_Load();
        m_main->show();
    }
    void cleanup() { m_main.reset(); }

    void captureWhilePlayingSavesTheFrameWhereItPaused()
    {
        open(QStringLiteral("mpeg2.mpg"));
        m_main->transport().mnudouble_Click();
        c().cmdplay->click();
        QTRY_VERIFY(player()->position() > 20);
        const QString file = m_out.filePath(QStringLiteral("shot.bmp"));
        m_desktop.answer = file;
        c().cmdcapture->click();
        QCOMPARE(m_desktop.last.title, QStringLiteral("Save Frame As..."));
        QVERIFY(m_desktop.last.saveMode);
        QCOMPARE(m_desktop.last.defaultExt, QStringLiteral("bmp"));
        QCOMPARE(player()->mode(), QStringLiteral("paused"));
        QCOMPARE(player()->zoom(), 100);
        const int at = player()->position();
        QVERIFY(samePicture(file, engineFrame(QStringLiteral("mpeg2.mpg"), at)));
        QVERIFY(QGuiApplication::clipboard()->image().isNull()); // cleared after saving
        QTest::qWait(100);
        QCOMPARE(player()->mode(), QStringLiteral("paused"));
        QCOMPARE(player()->position(), at);
        QVERIFY(m_desktop.messages.isEmpty());
    }

    void cancelledSaveLeavesTheFrameOnTheClipboard()
    {
        open(QStringLiteral("mpeg4.avi"));
        player()->setPosition(42);
        c().mnucapture->trigger();
        QVERIFY(written().isEmpty());
        QCOMPARE(QGuiApplication::clipboard()->image().convertToFormat(QImage::Format_RGB888),
                 engineFrame(QStringLiteral("mpeg4.avi"), 42));
    }

    void aFailedWriteEndsQuietly()
    {
        open(QStringLiteral("mpeg4.avi"));
        m_desktop.answer = m_out.filePath(QStringLiteral("no/such/folder/shot.bmp"));
        c().mnucapture->trigger();
        QVERIFY(!QFile::exists(m_desktop.answer));
        QVERIFY(m_desktop.messages.isEmpty());
        QVERIFY(!QGuiApplication::clipboard()->image().isNull()); // still there
        // No message box, but the main window says what happened.
        QCOMPARE(c().lblstate->text(), QStringLiteral("not saved"));
        QVERIFY(c().lblstate->toolTip().contains(QStringLiteral("shot.bmp")));
    }

    void theSaveDialogAddsTheExtension()
    {
        // The real dialog, answered by typing a bare name.
        Desktop::setInstance(nullptr);
        const QString typed = m_out.filePath(QStringLiteral("typed"));
        QTimer answer;
        connect(&answer, &QTimer::timeout, this, [&] {
            if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
                answer.stop();
                QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
            }
        });
        answer.start(50);
        // The name typed in the dialog's name field, without an extension.
        const QString chosen =
            FileDialog(m_main.get(), true, QStringLiteral("Save Frame As..."),
                       QStringLiteral("Bitmap Files (*.bmp)|*.bmp|"), QStringLiteral("typed"),
                       QStringLiteral("bmp"), m_out.path());
        Desktop::setInstance(&m_desktop);
        QCOMPARE(chosen, typed + QStringLiteral(".bmp"));
    }

    void rangeRun()
    {
        open(QStringLiteral("h264.mp4"));
        QVERIFY(c().mnurepeat->isChecked());
        frmbulk* bulk = openBulk();
        QVERIFY(bulk);
        QVERIFY(!m_main->isEnabled());
        QVERIFY(shared().norepeat); // Repeat is off while the dialog is open
        QCOMPARE(bulk->windowTitle(), QStringLiteral("Framix (Bulk Capture)"));
        QCOMPARE(bulk->txtfile->text(), corpus::path(QStringLiteral("h264.mp4")));
        QCOMPARE(bulk->txtout->text(), QCoreApplication::applicationDirPath() + u'/');
        // An installed program's folder cannot take frames: the pictures folder does.
        QCOMPARE(frmbulk::defaultOutputFolder(QStringLiteral("/proc")),
                 QStandardPaths::writableLocation(QStandardPaths::PicturesLocation) +
                     QStringLiteral("/Framix/"));
        QVERIFY(bulk->Option1->isChecked() && !bulk->sldfrom->isEnabled());
        QVERIFY(!bulk->cmdcancel->isEnabled() && !bulk->Label2->isEnabled());

        bulk->txtout->setText(m_out.path());
        bulk->Option2->click();
        QVERIFY(bulk->sldfrom->isEnabled());
        bulk->sldfrom->setValue(100);
        QCOMPARE(bulk->lblfrom->text(), QStringLiteral("From 100"));
        QCOMPARE(bulk->sldto->minimum(), 101);
        QTRY_COMPARE(player()->position(), 100); // the slider moves the player
        bulk->sldto->setValue(110);
        QCOMPARE(bulk->lblto->text(), QStringLiteral("To 110"));

        QList<int> progress;
        connect(bulk->ProgressBar1, &QProgressBar::valueChanged, this,
                [&](int v) { progress << v; });
        bulk->cmdcapture->click();
        QStringList expected;
        for (int n = 100; n <= 110; ++n)
            expected << QStringLiteral("frame%1.bmp").arg(n);
        QStringList got = written();
        std::sort(got.begin(), got.end());
        std::sort(expected.begin(), expected.end());
        QCOMPARE(got, expected);
        for (int n : {100, 105, 110})
            QVERIFY2(samePicture(m_out.filePath(QStringLiteral("frame%1.bmp").arg(n)),
                                 engineFrame(QStringLiteral("h264.mp4"), n)),
                     qPrintable(QString::number(n)));
        QCOMPARE(progress.first(), 100);
        QCOMPARE(progress.last(), 110);
        QCOMPARE(bulk->ProgressBar1->minimum(), 100);
        QCOMPARE(bulk->Label2->text(), QStringLiteral("Capturing Frame:110/110"));
        QCOMPARE(m_desktop.messages.size(), 1);
        QCOMPARE(m_desktop.messages.first().text,
                 QStringLiteral("The frames have been captured and saved in the desired location"));
        QCOMPARE(m_desktop.messages.first().title, QStringLiteral("Tavrino"));
        QCOMPARE(m_desktop.messages.first().icon, Desktop::Icon::Information);
        // Finished: idle controls again, the dialog stays open, the player at the last frame.
        QVERIFY(bulk->cmdcapture->isEnabled() && !bulk->cmdcancel->isEnabled());
        QVERIFY(!bulk->Label2->isEnabled() && bulk->txtout->isEnabled());
        QCOMPARE(player()->position(), 110);

        QPointer<frmbulk> alive(bulk);
        bulk->close();
        QTRY_VERIFY(alive.isNull());
        QVERIFY(m_main->isEnabled());
        QVERIFY(!shared().norepeat); // Repeat back on
    }

    void fullRunWritesFrame0ToLength()
    {
        open(QStringLiteral("odd.avi")); // 10 frames: positions 0..10
        frmbulk* bulk = openBulk();
        bulk->txtout->setText(m_out.path() + u'/'); // "//frame" paths are fine
        bulk->cmdcapture->click();
        QCOMPARE(written().size(), 11);
        QVERIFY(QFile::exists(m_out.filePath(QStringLiteral("frame10.bmp"))));
        // Position 10 is the end of the media, which shows the last frame.
        QVERIFY(samePicture(m_out.filePath(QStringLiteral("frame10.bmp")),
                            engineFrame(QStringLiteral("odd.avi"), 9)));
        QCOMPARE(QImage(m_out.filePath(QStringLiteral("frame0.bmp"))).size(), QSize(33, 17));
        QCOMPARE(bulk->Label2->text(), QStringLiteral("Capturing Frame:10/10"));
        bulk->close();
    }

    void cancelAndCloseDuringARun_data()
    {
        QTest::addColumn<bool>("byCloseBox");
        QTest::newRow("Cancel Capture") << false;
        QTest::newRow("window frame") << true;
    }
    void cancelAndCloseDuringARun()
    {
        QFETCH(bool, byCloseBox);
        open(QStringLiteral("mpeg1.mpg"));
        c().mnurepeat->trigger(); // Repeat off before: it stays off afterwards
        QPointer<frmbulk> bulk = openBulk();
        bulk->txtout->setText(m_out.path());
        // Stop while frame 12 is on its way (served in that frame's event pass).
        connect(bulk->ProgressBar1, &QProgressBar::valueChanged, this, [&, byCloseBox](int v) {
            if (v == 12)
                QTimer::singleShot(0, bulk, [bulk, byCloseBox] {
                    if (byCloseBox)
                        bulk->close();
                    else
                        bulk->cmdcancel->click();
                });
        });
        QVERIFY(bulk->Option1->isChecked());
        bulk->cmdcapture->click();
        QStringList got = written();
        QCOMPARE(got.size(), 13); // frames 0..12, each complete
        for (int n = 0; n <= 12; ++n)
            QVERIFY(QImage(m_out.filePath(QStringLiteral("frame%1.bmp").arg(n))).width() == 352);
        QVERIFY(m_desktop.messages.isEmpty());
        QTRY_VERIFY(bulk.isNull());
        QVERIFY(m_main->isEnabled());
        QVERIFY(shared().norepeat);
    }

    void anUnwritableFolderStopsWithAMessage()
    {
        open(QStringLiteral("mpeg4.avi"));
        // A folder below a file can be neither created nor written, whoever runs this.
        QFile blocker(m_out.filePath(QStringLiteral("blocker")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        frmbulk* bulk = openBulk();
        const QString folder = m_out.filePath(QStringLiteral("blocker/frames"));
        bulk->txtout->setText(folder);
        bulk->cmdcapture->click();
        QCOMPARE(m_desktop.messages.size(), 2);
        QCOMPARE(m_desktop.messages.at(0).title, QStringLiteral("Framix - CreatePath Function"));
        const auto& failure = m_desktop.messages.at(1);
        QCOMPARE(failure.title, QStringLiteral("Tavrino"));
        QVERIFY2(failure.text.contains(folder + QStringLiteral("/frame0.bmp")),
                 qPrintable(failure.text));
        QVERIFY2(failure.text.contains(QStringLiteral("Not a directory")),
                 qPrintable(failure.text));
        // Stopped at the first frame, ready for another try.
        QCOMPARE(bulk->ProgressBar1->value(), 0);
        QVERIFY(bulk->cmdcapture->isEnabled() && !bulk->cmdcancel->isEnabled());
        bulk->close();
    }

    void folderChooser()
    {
        open(QStringLiteral("mpeg4.avi"));
        frmbulk* bulk = openBulk();
        bulk->txtout->setText(QStringLiteral("/somewhere"));
        QDir().mkpath(m_out.filePath(QStringLiteral("a/b")));
        QDir::setCurrent(m_out.path());

        bulk->cmddir->click();
        auto* chooser = bulk->chooser();
        QVERIFY(chooser);
        QVERIFY(!bulk->isEnabled());
        QCOMPARE(chooser->windowTitle(), QStringLiteral("Output Path"));
        // It opens on the current folder; double-clicking a subfolder opens it.
        QCOMPARE(chooser->Dir1->path(), QDir(m_out.path()).canonicalPath());
        const int row = chooser->Dir1->count() - 1; // the last subfolder: "a"
        QVERIFY(chooser->Dir1->item(row)->text().trimmed() == QStringLiteral("a"));
        chooser->Dir1->openRow(row);
        QCOMPARE(chooser->Dir1->path(), QDir(m_out.path()).canonicalPath() + QStringLiteral("/a"));
        chooser->Command1->click(); // OK
        QCOMPARE(bulk->txtout->text(), QDir(m_out.path()).canonicalPath() + QStringLiteral("/a"));
        QVERIFY(bulk->isEnabled() && m_main->isEnabled());

        // Cancel leaves the text alone; the root keeps its "/".
        bulk->cmddir->click();
        chooser = bulk->chooser();
        QVERIFY(chooser->Dir1->setPath(QStringLiteral("/")));
        QCOMPARE(chooser->Dir1->path(), QStringLiteral("/"));
        chooser->Command2->click();
        QCOMPARE(bulk->txtout->text(), QDir(m_out.path()).canonicalPath() + QStringLiteral("/a"));
        bulk->cmddir->click();
        chooser = bulk->chooser();
        QVERIFY(chooser->Dir1->setPath(QStringLiteral("/")));
        chooser->Command1->click();
        QCOMPARE(bulk->txtout->text(), QStringLiteral("/"));

        // A volume that cannot be read: the system's reason, then back to the last one.
        bulk->cmddir->click();
        chooser = bulk->chooser();
        const QString gone = m_out.filePath(QStringLiteral("unmounted"));
        chooser->Drive1->setVolumes({QStringLiteral("/"), gone});
        chooser->Drive1->setCurrentIndex(0);
        chooser->Drive1_Change();
        QCOMPARE(chooser->Dir1->path(), QStringLiteral("/"));
        chooser->Drive1->setCurrentIndex(1);
        QCOMPARE(m_desktop.messages.size(), 1);
        QCOMPARE(m_desktop.messages.first().title, QStringLiteral("Tavrino"));
        QCOMPARE(m_desktop.messages.first().text, QStringLiteral("No such file or directory"));
        QCOMPARE(chooser->Drive1->drive(), QStringLiteral("/"));
        QCOMPARE(chooser->Dir1->path(), QStringLiteral("/"));
        chooser->close();
        bulk->close();
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    CaptureTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_capturewin.moc"
