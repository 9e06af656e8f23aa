// The player widget over real media: loading, reports from the event loop, seeking,
// copying the exact frame, tone mapping HDR video, deinterlacing, playing to the end, and
// sizes in twips.

#include "corpus.h"
#include "frameconverter.h"
#include "playercomponent.h"
#include "twips.h"
#include "videosource.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace framix;

namespace {

// Every corpus picture carries its number as 16 black/white blocks across its top eighth.
int numberInPicture(const QImage& image)
{
    int n = 0;
    const int y = image.height() / 16;
    for (int bit = 0; bit < 16; ++bit) {
        const int x = (2 * bit + 1) * image.width() / 32;
        if (qGray(image.pixel(x, y)) > 128)
            n |= 1 << bit;
    }
    return n;
}

} // namespace

class PlayerTest : public QObject
{
    Q_OBJECT
private slots:
    void loadsAndReportsFromTheEventLoop()
    {
        PlayerComponent player;
        QSignalSpy media(&player, &PlayerComponent::MediaChange);
        QSignalSpy notify(&player, &PlayerComponent::Notify);
        QSignalSpy modes(&player, &PlayerComponent::ModeChange);
        QCOMPARE(player.mode(), QStringLiteral("not ready"));
        player.setCommand(QStringLiteral("play")); // harmless with nothing loaded
        QVERIFY(player.setFileName(corpus::path(QStringLiteral("mpeg2.mpg"))));
        // Length and Start are valid as soon as the file name is put; the report of the
        // new media is not raised inside the put.
        QCOMPARE(player.length(), corpus::oracle(QStringLiteral("mpeg2.mpg")).size());
        QCOMPARE(player.start(), 0);
        QCOMPARE(player.mode(), QStringLiteral("stopped"));
        QCOMPARE(media.size(), 0);
        player.setCommand(QStringLiteral("open"));
        QCOMPARE(notify.size(), 0);
        QTRY_COMPARE(media.size(), 1);
        QTRY_COMPARE(notify.size(), 1);
        QCOMPARE(modes.size(), 0);
        // The stored picture size at 100 %, in twips.
        QCOMPARE(player.widthTwips(), twips::fromPixels(720));
        QCOMPARE(player.heightTwips(), twips::fromPixels(576));
        QVERIFY(player.mediaType().contains(QStringLiteral("MPEG-2")));

        QVERIFY(player.setFileName(QString()));
        QCOMPARE(player.fileName(), QString());
        QTRY_COMPARE(modes.size(), 1);
        QCOMPARE(modes.first().at(0).toInt(), int(PlayerComponent::NotReady));
    }

    // Not media, and a pipe nothing writes to (which would block the open for ever): both
    // are refused at once with the reason.
    void refusesWhatItCannotPlay_data()
    {
        QTest::addColumn<bool>("pipe");
        QTest::newRow("text") << false;
        QTest::newRow("FIFO") << true;
    }
    void refusesWhatItCannotPlay()
    {
        QFETCH(bool, pipe);
        QTemporaryDir dir;
        QString path = corpus::path(QStringLiteral("text.mpg"));
        if (pipe) {
            path = dir.filePath(QStringLiteral("pipe.mpg"));
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        }
        PlayerComponent player;
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!player.setFileName(path));
        QVERIFY(clock.elapsed() < 5000);
        QCOMPARE(player.fileName(), QString());
        QCOMPARE(player.length(), 0);
        QCOMPARE(player.lastError().code, EngineError::Code::NotMedia);
    }

    void seeksAndCopiesTheExactFrame_data()
    {
        QTest::addColumn<QString>("clip");
        QTest::newRow("mpeg1") << "mpeg1.mpg";
        QTest::newRow("h264") << "h264.mp4";
        QTest::newRow("wmv") << "wmv2.wmv";
    }
    void seeksAndCopiesTheExactFrame()
    {
        QFETCH(QString, clip);
        PlayerComponent player;
        QVERIFY(player.setFileName(corpus::path(clip)));
        QSignalSpy positions(&player, &PlayerComponent::PositionChange);
        QSignalSpy modes(&player, &PlayerComponent::ModeChange);
        const int length = player.length();
        // A put is followed at once by a copy: the copy must be the new frame, even
        // though the picture on screen has not caught up yet.
        for (int n : {length / 2, 7, length - 1, 8, 0, length / 3}) {
            player.setPosition(n);
            QCOMPARE(player.position(), n);
            QVERIFY(player.CopyFrame());
            const QImage copied = QGuiApplication::clipboard()->image();
            QCOMPARE(copied.size(), QSize(player.mediaInfo().width, player.mediaInfo().height));
            QCOMPARE(numberInPicture(copied), n);
        }
        // Position == Length is the end: it shows (and copies) the last frame.
        player.setPosition(length + 5);
        QCOMPARE(player.position(), length);
        QVERIFY(player.CopyFrame());
        QCOMPARE(numberInPicture(QGuiApplication::clipboard()->image()), length - 1);
        QTRY_VERIFY(!positions.isEmpty());
        QCOMPARE(positions.last().at(0).toInt(), length);
        // Seeking a stopped player leaves it paused on the frame, reported once.
        QTRY_COMPARE(modes.size(), 1);
        QCOMPARE(modes.first().at(0).toInt(), int(PlayerComponent::Paused));
        QTRY_COMPARE(player.shownFrame(), length - 1);
    }

    // Every picture size and pixel format: what is copied and what is drawn at 100 % are
    // ffmpeg's own pixels for the frame.
    void copiesAndShowsEverySizeExactly_data() { corpus::addPictureCaseRows(); }
    void copiesAndShowsEverySizeExactly()
    {
        QFETCH(corpus::PictureCase, c);
        const QImage expected = QImage(c.reference, "BMP").convertToFormat(QImage::Format_RGB888);
        QVERIFY2(!expected.isNull(), qPrintable(c.reference));
        PlayerComponent player;
        QVERIFY(player.setFileName(c.clip));
        player.resize(expected.size());
        player.show();
        player.setPosition(c.frame);
        QVERIFY(player.CopyFrame());
        QCOMPARE(QGuiApplication::clipboard()->image().convertToFormat(QImage::Format_RGB888),
                 expected);
        QTRY_COMPARE(player.shownFrame(), c.frame);
        // Pixels that are not square are drawn in the picture's shape, not one to one.
        if (player.mediaInfo().displayWidth() == player.mediaInfo().width)
            QCOMPARE(player.grab().toImage().convertToFormat(QImage::Format_RGB888), expected);
    }

    // A held step key: steps arrive faster than 1080p frames decode. They are coalesced, the
    // pictures come in order, and the last one asked for is the one left on screen.
    void heldStepKeyCoalescesInOrder()
    {
        PlayerComponent player;
        QVERIFY(player.setFileName(corpus::path(QStringLiteral("h264.mp4"))));
        QSignalSpy shown(&player, &PlayerComponent::frameShown);
        for (int n = 1; n <= 60; ++n) {
            player.setPosition(n);
            QTest::qWait(1); // one turn of the event loop per key repeat
        }
        QTRY_COMPARE(player.shownFrame(), 60);
        QTest::qWait(100);
        QCOMPARE(player.shownFrame(), 60);
        for (int i = 1; i < shown.size(); ++i)
            QVERIFY2(shown.at(i).at(0).toInt() > shown.at(i - 1).at(0).toInt(),
                     qPrintable(QStringLiteral("%1 after %2")
                                    .arg(shown.at(i).at(0).toInt())
                                    .arg(shown.at(i - 1).at(0).toInt())));
        // Backwards the same.
        shown.clear();
        for (int n = 59; n >= 20; --n) {
            player.setPosition(n);
            QTest::qWait(1);
        }
        QTRY_COMPARE(player.shownFrame(), 20);
        for (int i = 1; i < shown.size(); ++i)
            QVERIFY(shown.at(i).at(0).toInt() < shown.at(i - 1).at(0).toInt());
        QVERIFY(player.CopyFrame());
        QCOMPARE(numberInPicture(QGuiApplication::clipboard()->image()), 20);
    }

    void playsToTheEndAndStops()
    {
        PlayerComponent player;
        QVERIFY(player.setFileName(corpus::path(QStringLiteral("odd.avi")))); // 10 frames, 2 s
        QSignalSpy modes(&player, &PlayerComponent::ModeChange);
        QSignalSpy shown(&player, &PlayerComponent::frameShown);
        player.setSpeed(2000);
        player.setCommand(QStringLiteral("play"));
        QCOMPARE(player.mode(), QStringLiteral("playing"));
        QTRY_COMPARE_WITH_TIMEOUT(player.mode(), QStringLiteral("stopped"), 5000);
        QTRY_COMPARE(modes.size(), 2);
        QCOMPARE(modes.at(0).at(0).toInt(), int(PlayerComponent::Playing));
        QCOMPARE(modes.at(1).at(0).toInt(), int(PlayerComponent::Stopped));
        QCOMPARE(player.position(), player.length());
        // Frames come in order, and at this small size none is dropped.
        QVERIFY(shown.size() >= 9);
        for (int i = 1; i < shown.size(); ++i)
            QVERIFY(shown.at(i).at(0).toInt() > shown.at(i - 1).at(0).toInt());
        QCOMPARE(player.stats().dropped, 0);

        // Pause keeps the place; a seek while playing goes on playing from there.
        player.setSpeed(100);
        player.setPosition(2);
        player.setCommand(QStringLiteral("play"));
        QTest::qWait(100);
        player.setCommand(QStringLiteral("pause"));
        QCOMPARE(player.mode(), QStringLiteral("paused"));
        const int at = player.position();
        QTest::qWait(150);
        QCOMPARE(player.position(), at);
        player.setCommand(QStringLiteral("play"));
        player.setPosition(6);
        QCOMPARE(player.mode(), QStringLiteral("playing"));
        QTRY_COMPARE(player.shownFrame(), 6);
    }

    void soundOnlyHasHeight30()
    {
        PlayerComponent player;
        QVERIFY(player.setFileName(corpus::path(QStringLiteral("sound.mp2"))));
        QCOMPARE(player.heightTwips(), 30.0);
        QVERIFY(!player.hasPicture());
        // 25 positions per second of sound (the clip is 4 s).
        QCOMPARE(player.length(), int(qRound(player.mediaInfo().durationMs * 25 / 1000.0)));
        QVERIFY(qAbs(player.length() - 100) <= 1);
        QVERIFY(!player.CopyFrame());
        // Plays silently on its own clock when there is no sound device.
        player.setSpeed(2000);
        player.setCommand(QStringLiteral("play"));
        QTRY_VERIFY_WITH_TIMEOUT(player.position() > 10, 3000);
    }

    void zoomResizesBeforeReturning()
    {
        PlayerComponent player;
        QVERIFY(player.setFileName(corpus::path(QStringLiteral("mpeg4.avi")))); // 320x240
        QSignalSpy sizes(&player, &PlayerComponent::SizeChange);
        player.setZoom(50);
        QCOMPARE(sizes.size(), 1);
        QCOMPARE(player.widthTwips(), twips::fromPixels(160));
        QCOMPARE(player.size(), QSize(160, 120));
        player.setZoom(200);
        QCOMPARE(sizes.size(), 2);
        QCOMPARE(player.heightTwips(), twips::fromPixels(480));
        player.setZoom(200);
        QCOMPARE(sizes.size(), 2); // no change, no report
        player.setHeightTwips(3000);
        QCOMPARE(sizes.size(), 3);
        QCOMPARE(player.heightTwips(), 3000.0);
    }

    // Non-square pixels: the player takes the picture's display shape (720x576 stored at
    // 16:9 is seen 1024 wide), while what it copies keeps the stored pixels.
    void anamorphicPictureShownInItsShape()
    {
        PlayerComponent player;
        const QString sizes = qEnvironmentVariable("FRAMIX_TEST_SIZES");
        QVERIFY(player.setFileName(sizes + QStringLiteral("/720x576.mpg")));
        QCOMPARE(player.size(), QSize(1024, 576));
        player.setZoom(50);
        QCOMPARE(player.size(), QSize(512, 288));
        QVERIFY(player.CopyFrame());
        QCOMPARE(QGuiApplication::clipboard()->image().size(), QSize(720, 576));
    }

    // High dynamic range video is shown and copied tone-mapped unless that is switched off;
    // the picture on screen follows the switch at once.
    void hdrShownAndCopiedTonemapped()
    {
        const QString clip = corpus::path(QStringLiteral("pq.mp4"));
        VideoSource source;
        QVERIFY(source.open(clip, nullptr));
        const auto f = source.frame(12);
        QVERIFY(f);
        FrameConverter converter;
        const QImage plain = converter.toBgrImage(*f).convertToFormat(QImage::Format_RGB888);
        converter.setTonemap(true);
        const QImage toned = converter.toBgrImage(*f).convertToFormat(QImage::Format_RGB888);
        QVERIFY(toned != plain);

        PlayerComponent player;
        QVERIFY(player.setFileName(clip));
        player.show();
        player.setPosition(12);
        QVERIFY(player.CopyFrame());
        QCOMPARE(QGuiApplication::clipboard()->image().convertToFormat(QImage::Format_RGB888),
                 toned);
        QTRY_COMPARE(player.shownFrame(), 12);
        QCOMPARE(player.grab().toImage().convertToFormat(QImage::Format_RGB888), toned);
        QSignalSpy shown(&player, &PlayerComponent::frameShown);
        for (bool on : {false, true}) {
            player.setTonemap(on);
            QVERIFY(shown.wait(30000));
            QCOMPARE(shown.last().at(0).toInt(), 12);
            const QImage& expected = on ? toned : plain;
            QCOMPARE(player.grab().toImage().convertToFormat(QImage::Format_RGB888), expected);
            QVERIFY(player.CopyFrame());
            QCOMPARE(QGuiApplication::clipboard()->image().convertToFormat(QImage::Format_RGB888),
                     expected);
        }
    }

    // Interlaced video is shown and copied deinterlaced while that is switched on; the
    // picture on screen follows the switch at once, without the file being opened again,
    // and captures that read the file themselves are told (videoOptions).
    void interlacedShownAndCopiedDeinterlaced()
    {
        const QString clip = corpus::path(QStringLiteral("interlaced.mpg"));
        QImage expected[2];
        for (bool on : {false, true}) {
            VideoSource source;
            VideoSource::Options o;
            o.source.deinterlace = on;
            QVERIFY(source.open(clip, nullptr, o));
            const auto f = source.frame(30);
            QVERIFY(f);
            expected[on] = FrameConverter().toBgrImage(*f).convertToFormat(QImage::Format_RGB888);
        }
        QVERIFY(expected[0] != expected[1]);

        PlayerComponent player;
        QSignalSpy loaded(&player, &PlayerComponent::MediaChange);
        player.setDeinterlace(true);
        QVERIFY(player.setFileName(clip));
        QVERIFY(player.videoOptions().deinterlace);
        player.show();
        player.setPosition(30);
        QVERIFY(player.CopyFrame());
        QCOMPARE(QGuiApplication::clipboard()->image().convertToFormat(QImage::Format_RGB888),
                 expected[1]);
        QTRY_COMPARE(player.shownFrame(), 30);
        QSignalSpy shown(&player, &PlayerComponent::frameShown);
        for (bool on : {false, true}) {
            player.setDeinterlace(on);
            QCOMPARE(player.videoOptions().deinterlace, on);
            QVERIFY(shown.wait(30000));
            QCOMPARE(shown.last().at(0).toInt(), 30);
            QCOMPARE(player.grab().toImage().convertToFormat(QImage::Format_RGB888), expected[on]);
            QVERIFY(player.CopyFrame());
            QCOMPARE(QGuiApplication::clipboard()->image().convertToFormat(QImage::Format_RGB888),
                     expected[on]);
        }
        QCOMPARE(player.position(), 30);
        QCOMPARE(loaded.size(), 1); // loaded once, never again
    }
};

QObject* makePlayerTest()
{
    return new PlayerTest;
}

#include "tst_player.moc"
