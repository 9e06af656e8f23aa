// Stores of pictures are bounded by the memory they hold: large pictures get fewer places.

#include "corpus.h"
#include "framecache.h"
#include "framememory.h"
#include "frameserver.h"
#include "videosource.h"

#include <QSignalSpy>
#include <QTest>
#include <QThread>

using namespace framix;

namespace {

QString sizesPath(const QString& name)
{
    return qEnvironmentVariable("FRAMIX_TEST_SIZES") + QLatin1Char('/') + name;
}

constexpr qint64 kMB = 1024 * 1024;

qint64 decodedBytes(qint64 width, qint64 height)
{
    return width * height * 3 / 2;
}

} // namespace

class MemoryTest : public QObject
{
    Q_OBJECT
private slots:
    void picturesWithinBudget()
    {
        QCOMPARE(picturesWithin(64 * kMB, 11 * kMB, 2, 6), 5);
        QCOMPARE(picturesWithin(64 * kMB, 3 * kMB, 2, 6), 6);  // no more than asked for
        QCOMPARE(picturesWithin(64 * kMB, 45 * kMB, 2, 6), 2); // never fewer
        QCOMPARE(picturesWithin(64 * kMB, 0, 2, 6), 6);        // size not known yet
        QCOMPARE(picturesWithin(64 * kMB, 45 * kMB, 3, 1), 3); // the least wins
    }

    // The cache's automatic limit: the whole default up to 1080p, less (but several
    // frames) beyond, and an explicit limit is never overridden by the picture size.
    void cacheLimitFollowsPictureSize()
    {
        const qint64 sd = decodedBytes(720, 576), hd = decodedBytes(1920, 1088);
        const qint64 uhd = decodedBytes(3840, 2160), uhd8 = decodedBytes(7680, 4320);
        QCOMPARE(FrameCache::limitFor(sd), FrameCache::kDefaultLimit);
        QCOMPARE(FrameCache::limitFor(hd), FrameCache::kDefaultLimit);
        QVERIFY(FrameCache::limitFor(decodedBytes(2560, 1440)) < FrameCache::kDefaultLimit);
        QVERIFY(FrameCache::limitFor(uhd) <= 128 * kMB);
        QVERIFY(FrameCache::limitFor(uhd) >= 5 * uhd);
        QVERIFY(FrameCache::limitFor(uhd8) >= FrameCache::kLeastFrames * uhd8);
        QVERIFY(FrameCache::limitFor(uhd8) <= 160 * kMB);
        for (qint64 b = hd; b < uhd8; b += b / 8) // more memory never means more frames
            QVERIFY(FrameCache::limitFor(b + b / 8) / (b + b / 8) <= FrameCache::limitFor(b) / b);

        FrameCache cache;
        QCOMPARE(cache.limit(), FrameCache::kDefaultLimit);
        cache.setPictureBytes(uhd);
        QCOMPARE(cache.limit(), FrameCache::limitFor(uhd));
        cache.setLimit(40 * kMB);
        cache.setPictureBytes(sd);
        QCOMPARE(cache.limit(), 40 * kMB);
        cache.setLimit(FrameCache::kAuto);
        QCOMPARE(cache.limit(), FrameCache::limitFor(sd));
    }

    // Through a source: the limit suits the file opened, a limit set stays across files,
    // and frames passed on the way forward are kept by memory, not by count.
    void sourceCacheBoundedByPictureSize()
    {
        VideoSource source;
        EngineError error;
        QVERIFY2(source.open(sizesPath(QStringLiteral("3840x2160.mp4")), &error),
                 qPrintable(error.message()));
        QVERIFY(source.cacheLimit() < FrameCache::kDefaultLimit);
        for (int n = 0; n < source.frameCount(); ++n)
            QVERIFY2(source.frame(n, &error), qPrintable(error.message()));
        const qint64 each = source.frame(source.frameCount() - 1, nullptr)->memoryBytes();
        QVERIFY(each > FrameCache::kPassingBytes / 3);
        QVERIFY(source.cacheBytes() <= FrameCache::kLeastPassing * each);
        QCOMPARE(source.frame(source.frameCount() - 2, nullptr)->number(),
                 source.frameCount() - 2); // a step back still finds its frame

        QVERIFY(source.open(corpus::path(QStringLiteral("h264.mp4")), &error));
        QCOMPARE(source.cacheLimit(), FrameCache::kDefaultLimit);
        source.setCacheLimit(40 * kMB);
        QVERIFY(source.open(sizesPath(QStringLiteral("3840x2160.mp4")), &error));
        QCOMPARE(source.cacheLimit(), 40 * kMB);
        source.setCacheLimit(-1);
        QVERIFY(source.cacheLimit() < FrameCache::kDefaultLimit);
    }

    // Playing 4K: the stream's queue takes no more than its least, two frames of the
    // three, while nobody takes them; once one is taken, the rest follow.
    void streamQueueBoundedByMemory()
    {
        FrameServer server;
        QSignalSpy opened(&server, &FrameServer::opened);
        server.openFile(sizesPath(QStringLiteral("3840x2160.mp4")));
        QVERIFY(opened.wait(60000));
        QCOMPARE(opened.first().at(0).value<MediaInfo>().frameCount, qint64(3));
        server.startStream(0);
        QTRY_VERIFY_WITH_TIMEOUT(server.peekStreamFrame() == 0, 30000);
        // Time for the worker to decode the third frame, were there room for it.
        QThread::msleep(700);
        QVERIFY(!server.streamFinished());
        QVector<int> got;
        QSize size;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                while (auto f = server.takeStreamFrame()) {
                    size = f->image.size();
                    got << f->frame.number();
                }
                return server.streamFinished() && server.peekStreamFrame() < 0;
            }(),
            30000);
        QCOMPARE(size, QSize(3840, 2160));
        QCOMPARE(got, (QVector<int>{0, 1, 2}));
    }
};

QObject* makeMemoryTest()
{
    return new MemoryTest;
}

#include "tst_memory.moc"
