// Frame-exact access: every way of reaching a frame must give the oracle's picture.

#include "corpus.h"
#include "framecache.h"
#include "videosource.h"

#include <QRandomGenerator>
#include <QTest>

using namespace framix;

namespace {

// Opens a clip or fails the current test.
#define OPEN_OR_FAIL(source, clip)                                                                 \
    do {                                                                                           \
        EngineError openError_;                                                                    \
        QVERIFY2((source).open(corpus::path(clip), &openError_),                                   \
                 qPrintable(openError_.message()));                                                \
    } while (false)

// Compares frame n with the oracle; returns "" or a description of the difference.
QString check(VideoSource& source, const QString& clip, int n)
{
    EngineError error;
    const auto frame = source.frame(n, &error);
    if (!frame)
        return QStringLiteral("frame %1: %2").arg(n).arg(error.message());
    if (frame->number() != n)
        return QStringLiteral("asked for %1, got %2").arg(n).arg(frame->number());
    const auto& expected = corpus::oracle(clip).at(n);
    if (frame->rawMd5() != expected.md5)
        return QStringLiteral("frame %1: picture differs from the oracle").arg(n);
    return {};
}

} // namespace

class FrameAccessTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY2(!corpus::dir().isEmpty(), "FRAMIX_TEST_MEDIA is not set"); }

    void clips_data()
    {
        QTest::addColumn<QString>("clip");
        for (const QString& c : corpus::clips())
            QTest::newRow(qPrintable(c)) << c;
    }

    void frameCountMatchesOracle_data() { clips_data(); }
    void frameCountMatchesOracle()
    {
        QFETCH(QString, clip);
        VideoSource source;
        OPEN_OR_FAIL(source, clip);
        QVERIFY(!corpus::oracle(clip).isEmpty());
        QCOMPARE(source.frameCount(), int(corpus::oracle(clip).size()));
        QVERIFY(source.info().hasVideo);
        QVERIFY(source.info().width > 0 && source.info().height > 0);
        QVERIFY(source.info().frameRate > 0);
    }

    void randomAccessMatchesOracle_data() { clips_data(); }
    void randomAccessMatchesOracle()
    {
        QFETCH(QString, clip);
        VideoSource source;
        OPEN_OR_FAIL(source, clip);
        QRandomGenerator rng(20261206);
        QStringList wrong;
        for (int i = 0; i < 200; ++i) {
            const QString problem = check(source, clip, int(rng.bounded(source.frameCount())));
            if (!problem.isEmpty())
                wrong << problem;
        }
        QVERIFY2(wrong.isEmpty(),
                 qPrintable(QString::number(wrong.size()) + QStringLiteral(" wrong: ") +
                            wrong.mid(0, 5).join("; ")));
    }

    // Stepping forward decodes on; it never seeks, not even across keyframes, nor for the
    // last frames, which come out of the decoder only after the end of the file.
    void forwardStepsDoNotSeek_data() { clips_data(); }
    void forwardStepsDoNotSeek()
    {
        QFETCH(QString, clip);
        VideoSource source;
        OPEN_OR_FAIL(source, clip);
        const int first = source.frameCount() / 3;
        QCOMPARE(check(source, clip, first), QString());
        const int seeks = source.stats().seeks;
        const int decoded = source.stats().decodedFrames;
        for (int n = first + 1; n < source.frameCount(); ++n)
            QCOMPARE(check(source, clip, n), QString());
        QCOMPARE(source.stats().seeks, seeks);
        QVERIFY(source.stats().decodedFrames - decoded <= source.frameCount() - first);
        // Only the last few frames passed are kept, and a step back finds them.
        const VideoFrame last = *source.frame(source.frameCount() - 1, nullptr);
        QVERIFY(source.cacheBytes() <= FrameCache::kPassing * last.memoryBytes());
        const int hits = source.stats().cacheHits;
        QCOMPARE(check(source, clip, source.frameCount() - 2), QString());
        QCOMPARE(source.stats().cacheHits, hits + 1);
        QCOMPARE(source.stats().seeks, seeks);
    }

    // Stepping back from the middle of a long GOP: right pictures, and the GOP is not decoded
    // again for every step.
    void backwardStepsMatchOracle_data()
    {
        QTest::addColumn<QString>("clip");
        QTest::addColumn<int>("from");
        QTest::newRow("h264 1080p, 250-frame GOP") << QStringLiteral("h264.mp4") << 375;
        QTest::newRow("mpeg2 open GOPs") << QStringLiteral("mpeg2.mpg") << 200;
        QTest::newRow("mpeg1 open GOPs") << QStringLiteral("mpeg1.mpg") << 250;
        QTest::newRow("avi mpeg4") << QStringLiteral("mpeg4.avi") << 180;
        QTest::newRow("vfr mkv") << QStringLiteral("vfr.mkv") << 150;
    }
    void backwardStepsMatchOracle()
    {
        QFETCH(QString, clip);
        QFETCH(int, from);
        VideoSource source;
        OPEN_OR_FAIL(source, clip);
        QCOMPARE(check(source, clip, from), QString());
        source.resetStats();
        for (int n = from - 1; n >= from - 100; --n)
            QCOMPARE(check(source, clip, n), QString());
        // Re-decoding from the keyframe on every step would cost thousands of frames here.
        QVERIFY2(source.stats().decodedFrames < 1000,
                 qPrintable(QStringLiteral("%1 frames decoded").arg(source.stats().decodedFrames)));
    }

    // The pictures an open GOP shows before its keyframe need the GOP before; reached
    // directly, with nothing cached, they must still be exact.
    void openGopLeadingPictures_data()
    {
        QTest::addColumn<QString>("clip");
        QTest::newRow("mpeg1") << QStringLiteral("mpeg1.mpg");
        QTest::newRow("mpeg2") << QStringLiteral("mpeg2.mpg");
    }
    void openGopLeadingPictures()
    {
        QFETCH(QString, clip);
        VideoSource source;
        OPEN_OR_FAIL(source, clip);
        source.setCacheLimit(0);
        const FrameIndex& index = source.index();
        QVector<int> leading;
        for (int n = 0; n + 1 < index.frameCount(); ++n)
            if (index.frame(n).packet > index.frame(n + 1).packet && index.frame(n).packet >= 0)
                leading << n;
        QVERIFY2(leading.size() > 5, "the clip has no open-GOP leading pictures");
        // Far apart and backwards, so every request seeks.
        for (int i = int(leading.size()) - 1; i >= 0; i -= 3)
            QCOMPARE(check(source, clip, leading[i]), QString());
    }

    // Every frame's display time, counted from the first frame's, is the decoder's own;
    // a key frame is decoded from its own packet, and every frame's decoding starts at a
    // key frame.
    void timesAndKeyFramesMatchOracle_data()
    {
        QTest::addColumn<QString>("clip");
        QTest::newRow("vfr mkv") << QStringLiteral("vfr.mkv");
        QTest::newRow("h264 mp4") << QStringLiteral("h264.mp4");
    }
    void timesAndKeyFramesMatchOracle()
    {
        QFETCH(QString, clip);
        VideoSource source;
        OPEN_OR_FAIL(source, clip);
        const FrameIndex& index = source.index();
        const QVector<corpus::OracleFrame> oracle = corpus::oracle(clip);
        QCOMPARE(index.frameCount(), int(oracle.size()));
        int keys = 0;
        for (int n = 0; n < index.frameCount(); ++n) {
            const FrameIndex::Frame& f = index.frame(n);
            const QString at = QStringLiteral("frame %1: ").arg(n);
            QVERIFY2(f.timeMs == oracle[n].timeMs,
                     qPrintable(at + QStringLiteral("%1 ms, ffmpeg says %2 ms")
                                         .arg(f.timeMs)
                                         .arg(oracle[n].timeMs)));
            if (oracle[n].key) {
                ++keys;
                QVERIFY2(f.packet >= 0 && index.packet(f.packet).key && f.startPacket == f.packet,
                         qPrintable(at + QStringLiteral("a key frame not decoded from itself")));
            }
            const int start = index.packet(f.startPacket).display;
            QVERIFY2(start >= 0 && oracle[start].key,
                     qPrintable(at + QStringLiteral("decoding starts at frame %1").arg(start)));
        }
        QVERIFY2(keys > 1, "the clip has a single key frame");
    }

    void outOfRangeIsAnError()
    {
        VideoSource source;
        OPEN_OR_FAIL(source, QStringLiteral("mpeg4.avi"));
        EngineError error;
        QVERIFY(!source.frame(-1, &error));
        QCOMPARE(error.code, EngineError::Code::OutOfRange);
        QVERIFY(!source.frame(source.frameCount(), &error));
        QCOMPARE(error.code, EngineError::Code::OutOfRange);
        QCOMPARE(check(source, QStringLiteral("mpeg4.avi"), source.frameCount() - 1), QString());
    }

    void cacheStaysWithinLimit()
    {
        VideoSource source;
        OPEN_OR_FAIL(source, QStringLiteral("h264.mp4"));
        source.setCacheLimit(40LL * 1024 * 1024);
        QCOMPARE(check(source, QStringLiteral("h264.mp4"), 200), QString());
        for (int n = 199; n >= 150; --n) {
            QCOMPARE(check(source, QStringLiteral("h264.mp4"), n), QString());
            QVERIFY(source.cacheBytes() <= source.cacheLimit());
        }
        QVERIFY(source.stats().cacheHits > 0);
    }
};

QObject* makeFrameAccessTest()
{
    return new FrameAccessTest;
}

#include "tst_frameaccess.moc"
