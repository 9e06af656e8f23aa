// The worker-thread front end: results arrive as signals, and only the newest request counts.

#include "corpus.h"
#include "frameserver.h"
#include "videosource.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

using namespace framix;

class FrameServerTest : public QObject
{
    Q_OBJECT
private slots:
    void opensAndServesTheNewestRequest()
    {
        FrameServer server;
        QSignalSpy opened(&server, &FrameServer::opened);
        QSignalSpy ready(&server, &FrameServer::frameReady);
        server.openFile(corpus::path(QStringLiteral("h264.mp4")));
        QVERIFY(opened.wait(60000));
        const auto info = opened.takeFirst().at(0).value<MediaInfo>();
        QCOMPARE(info.frameCount, qint64(corpus::oracle(QStringLiteral("h264.mp4")).size()));
        // A burst of requests, as a slider drag makes: the last one is always answered, and
        // the worker does not work through all of them.
        for (int n = 10; n <= 400; n += 10)
            server.requestFrame(n);
        QTRY_VERIFY_WITH_TIMEOUT(
            !ready.isEmpty() && ready.last().at(0).value<VideoFrame>().number() == 400, 60000);
        QVERIFY(ready.size() < 40);
        const auto frame = ready.last().at(0).value<VideoFrame>();
        const auto image = ready.last().at(1).value<QImage>();
        QCOMPARE(frame.rawMd5(), corpus::oracle(QStringLiteral("h264.mp4")).at(400).md5);
        QCOMPARE(image.size(), QSize(1920, 1080));
    }

    // Opens in quick succession, as a user clicking through recent files makes: each open
    // replaces the one before; only the last file is reported opened, nothing about a file
    // that was replaced or closed ever arrives, and nothing hangs.
    void opensBackToBack()
    {
        FrameServer server;
        QSignalSpy opened(&server, &FrameServer::opened);
        QSignalSpy failed(&server, &FrameServer::errorOccurred);
        QSignalSpy ready(&server, &FrameServer::frameReady);
        const QStringList clips = {
            corpus::path(QStringLiteral("mpeg2.mpg")), corpus::path(QStringLiteral("text.mpg")),
            corpus::path(QStringLiteral("vfr.mkv")), corpus::path(QStringLiteral("mpeg4.avi"))};
        for (int i = 0; i < 200; ++i) {
            server.openFile(clips[i % clips.size()]);
            server.requestFrame(5);
            if (i % 7 == 0)
                QCoreApplication::processEvents(); // let some answers through meanwhile
        }
        server.closeFile();
        server.openFile(corpus::path(QStringLiteral("mpeg1.mpg")));
        server.requestFrame(7);
        QTRY_VERIFY_WITH_TIMEOUT(
            !ready.isEmpty() && ready.last().at(0).value<VideoFrame>().number() == 7, 60000);
        QCOMPARE(opened.last().at(0).value<MediaInfo>().path,
                 corpus::path(QStringLiteral("mpeg1.mpg")));
        QCOMPARE(ready.last().at(0).value<VideoFrame>().rawMd5(),
                 corpus::oracle(QStringLiteral("mpeg1.mpg")).at(7).md5);
        // Whatever arrived before the last open was about a file opened at that time:
        // every error is text.mpg's, never a cancelled open.
        for (const auto& e : std::as_const(failed))
            QCOMPARE(e.at(0).value<EngineError>().code, EngineError::Code::NotMedia);
        QTest::qWait(200);
        QCOMPARE(opened.last().at(0).value<MediaInfo>().path,
                 corpus::path(QStringLiteral("mpeg1.mpg")));
    }

    // The worker has answered for a file (opened, a frame, an error) but the answer has
    // not been delivered yet when another file is opened: it is dropped, so it can never be
    // taken for the new file's.
    void answersForAReplacedFileAreDropped()
    {
        FrameServer server;
        QSignalSpy opened(&server, &FrameServer::opened);
        QSignalSpy failed(&server, &FrameServer::errorOccurred);
        server.openFile(corpus::path(QStringLiteral("text.mpg")));
        QThread::msleep(1500); // answered on the worker, not yet delivered here
        server.openFile(corpus::path(QStringLiteral("mpeg2.mpg")));
        QThread::msleep(1500);
        server.requestFrame(3);
        server.openFile(corpus::path(QStringLiteral("vfr.mkv")));
        QVERIFY(opened.wait(30000));
        QTest::qWait(300);
        QCOMPARE(failed.size(), 0);
        QCOMPARE(opened.size(), 1);
        QCOMPARE(opened.first().at(0).value<MediaInfo>().path,
                 corpus::path(QStringLiteral("vfr.mkv")));
    }

    // Closing while the index is still being made: no opened() follows for that file,
    // and the next open works.
    void closeDuringIndexing()
    {
        FrameServer server;
        server.setIndexCacheDir(QDir::tempPath() + QStringLiteral("/framix-no-cache-") +
                                QString::number(QCoreApplication::applicationPid()));
        QSignalSpy opened(&server, &FrameServer::opened);
        QSignalSpy progress(&server, &FrameServer::indexProgress);
        QSignalSpy failed(&server, &FrameServer::errorOccurred);
        // H.264 in AVI decodes its first 1080p GOP while indexing: long enough to close in
        // the middle of it.
        server.openFile(corpus::path(QStringLiteral("h264.avi")));
        QVERIFY(progress.wait(30000));
        server.closeFile();
        QTest::qWait(500);
        QCOMPARE(opened.size(), 0);
        QCOMPARE(failed.size(), 0);
        server.openFile(corpus::path(QStringLiteral("mpeg2.mpg")));
        QVERIFY(opened.wait(30000));
        QCOMPARE(opened.size(), 1);
        QDir(QDir::tempPath() + QStringLiteral("/framix-no-cache-") +
             QString::number(QCoreApplication::applicationPid()))
            .removeRecursively();
    }

    // A blocking fetch while a display request is still pending: both are answered, each
    // with its own frame.
    void fetchWhileRequestPending()
    {
        FrameServer server;
        QSignalSpy opened(&server, &FrameServer::opened);
        QSignalSpy ready(&server, &FrameServer::frameReady);
        server.openFile(corpus::path(QStringLiteral("mpeg2.mpg")));
        QVERIFY(opened.wait(30000));
        const auto oracle = corpus::oracle(QStringLiteral("mpeg2.mpg"));
        server.requestFrame(200);
        EngineError error;
        const auto fetched = server.fetchFrame(30, &error);
        QVERIFY2(fetched, qPrintable(error.message()));
        QCOMPARE(fetched->frame.rawMd5(), oracle.at(30).md5);
        QTRY_VERIFY_WITH_TIMEOUT(!ready.isEmpty(), 30000);
        QCOMPARE(ready.last().at(0).value<VideoFrame>().number(), 200);
        QCOMPARE(ready.last().at(0).value<VideoFrame>().rawMd5(), oracle.at(200).md5);
    }

    // Playback whose clock runs ahead of decoding: frames before the deadline are counted
    // as dropped, never queued, and the queue stays in order.
    void streamDropsLateFrames()
    {
        FrameServer server;
        QSignalSpy opened(&server, &FrameServer::opened);
        server.openFile(corpus::path(QStringLiteral("mpeg2.mpg")));
        QVERIFY(opened.wait(30000));
        server.startStream(0);
        server.setStreamDeadline(100);
        QVector<int> got;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                while (auto f = server.takeStreamFrame())
                    got << f->frame.number();
                return server.streamFinished() && server.peekStreamFrame() < 0;
            }(),
            60000);
        // Every frame from the deadline on, in order; below it only what was queued before
        // the deadline was set.
        const int late = int(std::count_if(got.begin(), got.end(), [](int n) { return n < 100; }));
        QVERIFY(late <= FrameServer::kStreamQueue + 1);
        QCOMPARE(got.mid(late).size(), 150);
        for (int i = 0; i < 150; ++i)
            QCOMPARE(got[late + i], 100 + i);
        QCOMPARE(got.size() + server.streamDropped(), 250);
    }

    // An index made without decoding is checked in the background against the decoder's:
    // one that agrees goes to the cache; one that differs is replaced, and the owner is
    // told the new numbering before asking for any frame.
    void backgroundCheckOfTheIndex_data()
    {
        QTest::addColumn<QString>("clip");
        QTest::addColumn<bool>("agrees");
        QTest::newRow("honest timestamps") << QStringLiteral("vfr.mkv") << true;
        QTest::newRow("lying timestamps") << QStringLiteral("lies.mkv") << false;
    }
    void backgroundCheckOfTheIndex()
    {
        QFETCH(QString, clip);
        QFETCH(bool, agrees);
        QTemporaryDir cache;
        FrameServer server;
        server.setIndexCacheDir(cache.path());
        QSignalSpy opened(&server, &FrameServer::opened);
        QSignalSpy checked(&server, &FrameServer::indexChecked);
        QSignalSpy changed(&server, &FrameServer::indexChanged);
        server.openFile(corpus::path(clip));
        QVERIFY(opened.wait(30000));
        QTRY_VERIFY_WITH_TIMEOUT(checked.size() + changed.size() == 1, 60000);
        QCOMPARE(checked.size(), agrees ? 1 : 0);
        const QString cacheFile = VideoSource::indexCacheFile(corpus::path(clip), cache.path());
        QVERIFY(QFile::exists(cacheFile));
        VideoSource decoded;
        VideoSource::Options options;
        options.useIndexCache = options.fastIndex = false;
        QVERIFY(decoded.open(corpus::path(clip), nullptr, options));
        QCOMPARE(server.frameTimesMs().size(), decoded.frameCount());
        for (int n = 0; n < decoded.frameCount(); ++n)
            QCOMPARE(server.frameTimesMs().at(n), decoded.index().frame(n).timeMs);
        EngineError error;
        const int n = decoded.frameCount() / 2 + 1;
        const auto f = server.fetchFrame(n, &error);
        QVERIFY2(f, qPrintable(error.message()));
        QCOMPARE(f->frame.rawMd5(), decoded.frame(n)->rawMd5());
    }

    void reportsErrors()
    {
        FrameServer server;
        QSignalSpy failed(&server, &FrameServer::errorOccurred);
        server.openFile(corpus::path(QStringLiteral("text.mpg")));
        QVERIFY(failed.wait(30000));
        QCOMPARE(failed.first().at(0).value<EngineError>().code, EngineError::Code::NotMedia);
    }
};

QObject* makeFrameServerTest()
{
    return new FrameServerTest;
}

#include "tst_frameserver.moc"
