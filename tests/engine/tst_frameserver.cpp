// The worker-thread front end: results arrive as signals, and only the newest request counts.

#include "corpus.h"
#include "frameserver.h"

#include <QSignalSpy>
#include <QTest>

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
