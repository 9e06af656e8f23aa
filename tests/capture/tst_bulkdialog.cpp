// The bulk capture dialog's choices beyond the frame range, each test starting with
// mpeg4.avi (320x240, 250 frames at 25 frames/s) open in a new main window: the file name
// template and its preview, the range typed as frame numbers or times, the folder and type
// kept for the next opening, the question before files are replaced, lossy WebP at the
// chosen quality, and 16-bit PNG from a 10-bit video.

#include "corpus.h"
#include "fakedesktop.h"
#include "frameconverter.h"
#include "framespinbox.h"
#include "frmbulk.h"
#include "frmmain.h"
#include "frmvideo.h"
#include "picturediff.h"
#include "settings.h"
#include "sharedstate.h"
#include "videosource.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

using namespace framix;

namespace {

// The engine's own picture of frame n of the file at `path`.
QImage frameImage(const QString& path, int n)
{
    VideoSource source;
    const auto frame = source.open(path, nullptr) ? source.frame(n) : std::nullopt;
    return frame ? FrameConverter().toBgrImage(*frame).convertToFormat(QImage::Format_RGB888)
                 : QImage();
}

bool isFrame(const QString& file, const QString& video, int n)
{
    const QImage want = frameImage(video, n);
    return !want.isNull() && QImage(file).convertToFormat(QImage::Format_RGB888) == want;
}

// The picture in `file` as ffmpeg decodes it (for the types Qt cannot read).
QImage ffmpegPicture(const QString& file, QSize size)
{
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", {"-v", "error", "-i", file, "-f", "rawvideo", "-pix_fmt", "rgb24", "-"});
    if (!ffmpeg.waitForFinished(30000) || ffmpeg.exitCode() != 0)
        return {};
    const QByteArray rgb = ffmpeg.readAllStandardOutput();
    if (rgb.size() != qsizetype(size.width()) * size.height() * 3)
        return {};
    QImage image(size, QImage::Format_RGB888);
    for (int row = 0; row < size.height(); ++row)
        memcpy(image.scanLine(row), rgb.constData() + qsizetype(row) * size.width() * 3,
               size_t(size.width()) * 3);
    return image;
}

QByteArray head(const QString& file, int bytes)
{
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.read(bytes) : QByteArray();
}

} // namespace

class BulkDialogTest : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    std::optional<FakeDesktop> m_desktop;
    std::unique_ptr<frmmain> m_main;
    QString m_out;

    const MainControls& c() const { return m_main->controls(); }
    PlayerComponent* player() const { return m_main->videoWindow()->MCIWnd1; }
    void open(const QString& path)
    {
        m_main->media().openPath(path);
        QTRY_COMPARE(c().lblstate->text(), "stopped");
    }
    QPointer<frmbulk> openBulk()
    {
        c().mnubulk->trigger();
        return m_main->capture().bulkDialog();
    }
    static void chooseType(frmbulk* bulk, const QString& caption)
    {
        const QList<QListWidgetItem*> items = bulk->lsttypes->findItems(caption, Qt::MatchExactly);
        QVERIFY2(items.size() == 1, qPrintable(caption));
        bulk->lsttypes->setCurrentItem(items.first());
    }
    static void range(frmbulk* bulk, int from, int to)
    {
        bulk->Option2->click();
        bulk->sldfrom->setValue(from);
        bulk->sldto->setValue(to);
    }
    // Typed into the box as a user types: all of it replaced, then Enter.
    static void type(QSpinBox* box, const QString& text)
    {
        box->setFocus();
        QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(box, text);
        QTest::keyClick(box, Qt::Key_Return);
    }
    QStringList written(const QString& dir) const
    {
        QStringList files = QDir(dir).entryList(QDir::Files, QDir::Name);
        return files;
    }
    QString settingsText() const
    {
        QFile f(m_dir.filePath("config/Framix/Framix.ini"));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
    static constexpr auto kDone = "The frames have been captured and saved in the desired location";

private slots:
    void initTestCase() { Settings::setConfigDirForTesting(m_dir.filePath("config")); }
    void init()
    {
        shared() = SharedState{};
        // Every test starts from the choices of a first use.
        Settings::setBulkFolder(QString());
        Settings::setBulkType(QString());
        Settings::setJpegQuality(95);
        Settings::setWebpQuality(90);
        m_desktop.emplace();
        m_out = QDir(m_dir.path()).canonicalPath() + "/out";
        QDir(m_out).removeRecursively();
        m_main = std::make_unique<frmmain>();
        m_main->setEndProgram([] {});
        m_main->Form_Load();
        m_main->show();
        open(corpus::path("mpeg4.avi"));
    }
    void cleanup()
    {
        // A dialog a failed test left open must not outlive the player it works on.
        delete m_main->capture().bulkDialog();
        m_main.reset();
        m_desktop.reset();
    }

    // The preview names the first file of the run as the template, the type and the range
    // give it; a template that cannot name frames says why and starts nothing; a run writes
    // the names the template gives, and the check that no picture is written over the video
    // goes by them.
    void nameTemplate()
    {
        QPointer<frmbulk> bulk = openBulk();
        bulk->txtout->setText(m_out);
        QCOMPARE(bulk->txtname->text(), "frame{frame}");
        QCOMPARE(bulk->lblname->text(), "First file: frame0.bmp");
        range(bulk, 25, 27);
        QCOMPARE(bulk->lblname->text(), "First file: frame25.bmp");
        chooseType(bulk, "PNG Image (*.png)");
        bulk->txtname->setText("{name}_{frame:06}");
        QCOMPARE(bulk->lblname->text(), "First file: mpeg4_000025.png");
        bulk->txtname->setText("t{time}");
        QCOMPARE(bulk->lblname->text(), "First file: t00-00-01.000.png");
        // With keyframes only, the first keyframe from 25 on (25 frames/s: 40 ms a frame).
        const QVector<corpus::OracleFrame> oracle = corpus::oracle("mpeg4.avi");
        int key = 25;
        while (key < oracle.size() && !oracle[key].key)
            ++key;
        QVERIFY(key > 27 && key < 60);
        bulk->sldto->setValue(60);
        bulk->optkey->click();
        QCOMPARE(bulk->lblname->text(), QString("First file: t00-00-%1.%2.png")
                                            .arg(key * 40 / 1000, 2, 10, QChar('0'))
                                            .arg(key * 40 % 1000, 3, 10, QChar('0')));
        bulk->optall->click();
        bulk->sldto->setValue(27);

        const std::pair<const char*, const char*> refused[] = {
            {"{nope}", "unknown token {nope}"},
            {"shot", "would give every frame the same name"},
            {"a/{frame}", "(the folder is the Output Directory)"},
            {"{frame", "is not closed"}};
        for (auto [pattern, reason] : refused) {
            bulk->txtname->setText(pattern);
            QVERIFY2(bulk->lblname->text().startsWith("Not usable: ") &&
                         bulk->lblname->text().contains(reason),
                     qPrintable(bulk->lblname->text()));
        }
        bulk->txtname->setText("{nope}");
        bulk->cmdcapture->click();
        QCOMPARE(m_desktop->messages.size(), 1);
        QVERIFY2(m_desktop->messages.first().startsWith(
                     "The file names cannot be made: unknown token {nope}"),
                 qPrintable(m_desktop->messages.first()));
        QVERIFY(!QDir(m_out).exists() && !bulk->isRunning() && bulk->cmdcapture->isEnabled());

        chooseType(bulk, "Bitmap Image (*.bmp)");
        bulk->txtname->setText("{name}_{frame:03}");
        bulk->cmdcapture->click();
        QCOMPARE(written(m_out), QStringList({"mpeg4_025.bmp", "mpeg4_026.bmp", "mpeg4_027.bmp"}));
        for (int n = 25; n <= 27; ++n)
            QVERIFY(isFrame(QString("%1/mpeg4_%2.bmp").arg(m_out).arg(n, 3, 10, QChar('0')),
                            corpus::path("mpeg4.avi"), n));
        QCOMPARE(m_desktop->messages.value(1), kDone);
        bulk->close();

        // The video saved under a picture's name: frame 7 of a "clip{frame}" run would be
        // written over it, the default names would not touch it.
        QDir().mkpath(m_out + "/in");
        const QString video = m_out + "/in/clip7.png";
        QVERIFY(QFile::copy(corpus::path("mpeg4.avi"), video));
        open(video);
        bulk = openBulk();
        bulk->txtout->setText(m_out + "/in");
        chooseType(bulk, "PNG Image (*.png)");
        bulk->txtname->setText("clip{frame}");
        m_desktop->messages.clear();
        bulk->cmdcapture->click();
        QVERIFY2(m_desktop->messages.value(0).contains("is the video being read"),
                 qPrintable(m_desktop->messages.value(0)));
        QCOMPARE(written(m_out + "/in"), QStringList{"clip7.png"});
        QCOMPARE(QFileInfo(video).size(), QFileInfo(corpus::path("mpeg4.avi")).size());
        bulk->close();
    }

    // The boxes and the sliders show one range; a box takes a frame number or a time as Go
    // to Frame does, and refuses what names no frame of its range. They are enabled with the
    // sliders, and a run takes the range typed.
    void rangeBoxes()
    {
        QPointer<frmbulk> bulk = openBulk();
        bulk->txtout->setText(m_out);
        const int last = c().Slider1->maximum();
        QVERIFY(!bulk->spnfrom->isEnabled() && !bulk->spnto->isEnabled());
        QVERIFY(bulk->spnto->maximum() == last && bulk->spnto->value() == bulk->sldto->value());
        bulk->Option2->click();
        QVERIFY(bulk->spnfrom->isEnabled() && bulk->spnto->isEnabled());
        type(bulk->spnfrom, "100");
        QCOMPARE(bulk->sldfrom->value(), 100);
        QTRY_COMPARE(player()->position(), 100);
        QVERIFY(bulk->sldto->minimum() == 101 && bulk->spnto->minimum() == 101);
        QCOMPARE(bulk->lblfrom->text(), "From 100");
        bulk->sldto->setValue(150);
        QCOMPARE(bulk->spnto->value(), 150);

        const int at6500 = player()->positionAtTimeMs(6500);
        QVERIFY(at6500 > 150 && at6500 < last);
        type(bulk->spnto, "0:06.5");
        QVERIFY(bulk->sldto->value() == at6500 && bulk->spnto->value() == at6500);
        QCOMPARE(bulk->lblto->text(), QString("To %1").arg(at6500));
        type(bulk->spnfrom, "0:02");
        QVERIFY(bulk->sldfrom->value() == 50 && bulk->sldto->minimum() == 51);
        // Past the end of the media, past the last frame, words, before the range's start.
        for (const char* typed : {"9:00", "999", "abc", "20"}) {
            type(bulk->spnto, typed);
            QVERIFY2(bulk->sldto->value() == at6500 && bulk->spnto->value() == at6500, typed);
        }
        // At the last frame the end can only be that frame.
        bulk->sldfrom->setValue(last);
        QVERIFY(bulk->sldto->minimum() == last && bulk->spnto->value() == last);
        QCOMPARE(bulk->spnfrom->value(), last);

        type(bulk->spnfrom, "10");
        type(bulk->spnto, "0:00.480"); // frame 12
        bulk->cmdcapture->click();
        QCOMPARE(written(m_out), QStringList({"frame10.bmp", "frame11.bmp", "frame12.bmp"}));
        bulk->Option1->click();
        QVERIFY(!bulk->spnfrom->isEnabled() && !bulk->spnto->isEnabled());
        bulk->close();
    }

    // The folder and type of the last run come back at the next opening (the folder only
    // while it is there); Open Folder shows the folder a run wrote into.
    void choicesRemembered()
    {
        QPointer<frmbulk> bulk = openBulk();
        const QString programFolder = bulk->txtout->text();
        bulk->txtout->setText(m_out);
        chooseType(bulk, "PNG Image (*.png)");
        range(bulk, 5, 6);
        QVERIFY(!bulk->cmdopen->isEnabled());
        bulk->cmdcapture->click();
        QCOMPARE(written(m_out), QStringList({"frame5.png", "frame6.png"}));
        QVERIFY(bulk->cmdopen->isEnabled());
        bulk->cmdopen->click();
        QCOMPARE(m_desktop->urls, QList<QUrl>{QUrl::fromLocalFile(m_out)});
        m_desktop->urlsOpen = false;
        bulk->cmdopen->click();
        QVERIFY2(m_desktop->messages.value(1).contains("could not be shown"),
                 qPrintable(m_desktop->messages.value(1)));
        QVERIFY(settingsText().contains("BulkFolder=" + m_out + "\n"));
        QVERIFY(settingsText().contains("BulkType=png\n"));
        bulk->close();
        QTRY_VERIFY(bulk.isNull());

        bulk = openBulk();
        QCOMPARE(bulk->txtout->text(), m_out);
        QCOMPARE(bulk->lsttypes->currentItem()->text(), "PNG Image (*.png)");
        QCOMPARE(bulk->lblname->text(), "First file: frame0.png");
        QVERIFY(!bulk->cmdopen->isEnabled());
        bulk->close();
        QTRY_VERIFY(bulk.isNull());
        QDir(m_out).removeRecursively();
        bulk = openBulk();
        QCOMPARE(bulk->txtout->text(), programFolder);
        QCOMPARE(bulk->lsttypes->currentItem()->text(), "PNG Image (*.png)");
        bulk->close();
    }

    // Files of the run's names already in the folder are counted and replaced only when the
    // user says so; Cancel starts nothing. Other names, or none there, ask nothing.
    void replacePrompt()
    {
        QPointer<frmbulk> bulk = openBulk();
        bulk->txtout->setText(m_out);
        range(bulk, 3, 5);
        bulk->cmdcapture->click();
        QVERIFY(m_desktop->questions.isEmpty());
        QCOMPARE(m_desktop->messages, QStringList{kDone});
        {
            QFile old(m_out + "/frame4.bmp");
            QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
        }
        m_desktop->replies = {false};
        bulk->cmdcapture->click();
        QCOMPARE(m_desktop->questions,
                 QStringList{QString("3 files in %1 will be replaced.").arg(m_out)});
        QCOMPARE(head(m_out + "/frame4.bmp", 10), "old");
        QCOMPARE(m_desktop->messages.size(), 1);
        QVERIFY(!bulk->isRunning() && bulk->cmdcapture->isEnabled() &&
                !bulk->cmdcancel->isEnabled());

        range(bulk, 5, 7);
        m_desktop->replies = {true};
        bulk->cmdcapture->click();
        QCOMPARE(m_desktop->questions.value(1),
                 QString("1 file in %1 will be replaced.").arg(m_out));
        QCOMPARE(written(m_out).size(), 5);
        QCOMPARE(head(m_out + "/frame4.bmp", 10), "old");
        range(bulk, 4, 5);
        m_desktop->replies = {true};
        bulk->cmdcapture->click();
        QCOMPARE(m_desktop->questions.value(2),
                 QString("2 files in %1 will be replaced.").arg(m_out));
        QVERIFY(isFrame(m_out + "/frame4.bmp", corpus::path("mpeg4.avi"), 4));

        bulk->txtname->setText("x{frame}");
        bulk->cmdcapture->click();
        QCOMPARE(m_desktop->questions.size(), 3);
        QVERIFY(QFile::exists(m_out + "/x4.bmp"));
        QCOMPARE(m_desktop->messages.size(), 4);
        bulk->close();
    }

    // WebP is lossy at the quality in the box, which it keeps apart from JPEG's; the quality
    // box is there for those two. The lossless WebP type writes the frame's exact pixels.
    void webpQuality()
    {
        QPointer<frmbulk> bulk = openBulk();
        range(bulk, 10, 11);
        QVERIFY(!bulk->spnquality->isEnabled());
        chooseType(bulk, "JPEG Image (*.jpg)");
        QVERIFY(bulk->spnquality->isEnabled() && bulk->spnquality->value() == 95);
        chooseType(bulk, "WebP Image (*.webp)");
        QVERIFY(bulk->spnquality->isEnabled() && bulk->spnquality->value() == 90);
        const QString video = corpus::path("mpeg4.avi");
        const QImage want = frameImage(video, 10);
        QMap<int, qint64> sizes;
        for (int quality : {30, 95}) {
            bulk->spnquality->setValue(quality);
            const QString dir = m_out + QString("/q%1").arg(quality);
            bulk->txtout->setText(dir);
            bulk->cmdcapture->click();
            const QString file = dir + "/frame10.webp";
            QCOMPARE(head(file, 16).mid(8), "WEBPVP8 "); // the lossy bitstream
            sizes[quality] = QFileInfo(file).size();
            const double diff = meanDifference(ffmpegPicture(file, want.size()), want);
            QVERIFY2(diff < (quality == 30 ? 8 : 3), qPrintable(QString::number(diff)));
        }
        QVERIFY2(sizes[30] < sizes[95] * 3 / 4,
                 qPrintable(QString("%1 %2").arg(sizes[30]).arg(sizes[95])));
        QVERIFY(Settings::webpQuality() == 95 && Settings::jpegQuality() == 95);
        chooseType(bulk, "JPEG Image (*.jpg)");
        QCOMPARE(bulk->spnquality->value(), 95);
        bulk->spnquality->setValue(70);
        QVERIFY(Settings::jpegQuality() == 70 && Settings::webpQuality() == 95);

        chooseType(bulk, "WebP Image, lossless (*.webp)");
        QVERIFY(!bulk->spnquality->isEnabled());
        bulk->txtout->setText(m_out + "/lossless");
        bulk->cmdcapture->click();
        const QString file = m_out + "/lossless/frame10.webp";
        QCOMPARE(head(file, 16).mid(8), "WEBPVP8L");
        QCOMPARE(ffmpegPicture(file, want.size()), want);
        bulk->close();
    }

    // 16-bit PNG keeps the 10 bits of a 10-bit video (333x187), and agrees with the 8-bit
    // picture when cut down to 8 bits; an 8-bit video's PNG files stay 8-bit, exact.
    void deepPng()
    {
        const QString deep = qEnvironmentVariable("FRAMIX_TEST_SIZES") + "/yuv420p10.mkv";
        open(deep);
        QPointer<frmbulk> bulk = openBulk();
        bulk->txtout->setText(m_out);
        chooseType(bulk, "PNG Image, 16-bit (*.png)");
        QVERIFY(!bulk->spnquality->isEnabled());
        bulk->cmdcapture->click();
        QCOMPARE(m_desktop->messages, QStringList{kDone});
        QCOMPARE(written(m_out).size(), c().Slider1->maximum() + 1);
        for (int n = 0; n < c().Slider1->maximum(); ++n) {
            const QString file = QString("%1/frame%2.png").arg(m_out).arg(n);
            const QByteArray ihdr = head(file, 26);
            QVERIFY2(ihdr.size() == 26 && ihdr[24] == 16 && ihdr[25] == 2, qPrintable(file));
            const QImage picture(file);
            QCOMPARE(picture.size(), QSize(333, 187));
            QVERIFY(picture.depth() == 64);
            // Values that are no 8-bit level stretched (v * 257) carry the extra bits.
            qint64 finer = 0;
            for (int y = 0; y < picture.height(); ++y) {
                const auto* row = reinterpret_cast<const quint16*>(picture.constScanLine(y));
                for (int i = 0; i < picture.width() * 4; ++i)
                    finer += (i % 4 != 3 && row[i] % 257 != 0) ? 1 : 0;
            }
            QVERIFY2(finer > qint64(picture.width()) * picture.height(),
                     qPrintable(QString::number(finer)));
            const double diff = meanDifference(picture, frameImage(deep, n));
            QVERIFY2(diff < 1.0, qPrintable(QString::number(diff)));
        }
        bulk->close();
        QTRY_VERIFY(bulk.isNull());

        open(corpus::path("mpeg4.avi"));
        bulk = openBulk();
        QCOMPARE(bulk->lsttypes->currentItem()->text(), "PNG Image, 16-bit (*.png)");
        bulk->txtout->setText(m_out + "/8bit");
        range(bulk, 3, 4);
        bulk->cmdcapture->click();
        const QString file = m_out + "/8bit/frame3.png";
        QCOMPARE(int(head(file, 25).mid(24, 1).at(0)), 8);
        QVERIFY(isFrame(file, corpus::path("mpeg4.avi"), 3));
        bulk->close();
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    BulkDialogTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_bulkdialog.moc"
