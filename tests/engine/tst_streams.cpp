// Which video is read, and how it is turned: a file's other video stream, and a phone's
// portrait video stored sideways.

#include "corpus.h"
#include "sequentialdecoder.h"
#include "videosource.h"

#include <QTemporaryDir>
#include <QTest>

using namespace framix;

namespace {

QVector<QByteArray> decoded(const QString& clip, const SourceOptions& source, QSize* size)
{
    SequentialDecoder decoder;
    EngineError error;
    QVector<QByteArray> sums;
    if (!decoder.open(corpus::path(clip), &error, nullptr, source))
        return sums;
    while (auto f = decoder.next()) {
        *size = QSize(f->width(), f->height());
        sums << f->rawMd5();
    }
    return sums;
}

// Frames reached out of order (last, first, middle, backwards) against the decoder's.
QString compareAccess(VideoSource& source, const QVector<QByteArray>& expected)
{
    const int count = source.frameCount();
    if (count != expected.size())
        return QStringLiteral("%1 frames, the decoder gives %2").arg(count).arg(expected.size());
    for (const int n : {count - 1, 0, count / 2, count / 2 - 1, count / 2 - 2, 1}) {
        EngineError error;
        const auto f = source.frame(n, &error);
        if (!f)
            return QStringLiteral("frame %1: %2").arg(n).arg(error.message());
        if (f->rawMd5() != expected[n])
            return QStringLiteral("frame %1 differs").arg(n);
    }
    return {};
}

} // namespace

class StreamsTest : public QObject
{
    Q_OBJECT
private slots:
    // The first program's video by default; the other by its index, with frame numbers and a
    // cached index of its own, so that neither stream's index is ever taken for the other's.
    void eachVideoStreamHasItsOwnFrames()
    {
        QTemporaryDir cache;
        VideoSource::Options options;
        options.indexCacheDir = cache.path();
        QSize size;
        SourceOptions second;
        second.stream = 1;
        const QVector<QByteArray> first = decoded("twovideo.ts", {}, &size);
        QCOMPARE(size, QSize(320, 240));
        const QVector<QByteArray> other = decoded("twovideo.ts", second, &size);
        QCOMPARE(size, QSize(176, 144));
        QVERIFY(first.size() != other.size());

        for (int round = 0; round < 2; ++round) {
            VideoSource source;
            EngineError error;
            QVERIFY2(source.open(corpus::path("twovideo.ts"), &error, options),
                     qPrintable(error.message()));
            QCOMPARE(source.info().videoStream, 0);
            QCOMPARE(source.info().videoStreams.size(), 2);
            QVERIFY(source.info().videoStreams[0].isDefault);
            QVERIFY(!source.info().videoStreams[1].isDefault);
            QCOMPARE(source.info().videoStreams[1].width, 176);
            const QString problem = compareAccess(source, first);
            QVERIFY2(problem.isEmpty(), qPrintable(problem));
            source.checkIndex(
                *VideoSource::indexByDecoding(corpus::path("twovideo.ts"), nullptr, &error));

            VideoSource::Options chosen = options;
            chosen.source = second;
            VideoSource alt;
            QVERIFY2(alt.open(corpus::path("twovideo.ts"), &error, chosen),
                     qPrintable(error.message()));
            QCOMPARE(alt.info().videoStream, 1);
            QCOMPARE(QSize(alt.info().width, alt.info().height), QSize(176, 144));
            QCOMPARE(alt.stats().indexFromCache, round == 1);
            const QString altProblem = compareAccess(alt, other);
            QVERIFY2(altProblem.isEmpty(), qPrintable(altProblem));
            alt.checkIndex(*VideoSource::indexByDecoding(corpus::path("twovideo.ts"), nullptr,
                                                         &error, second));
        }
    }

    // The rate a stream states is the rate told, where its frames keep to it.
    void theStatedFrameRateIsKept()
    {
        const std::pair<const char*, double> clips[] = {
            {"rate30.wmv", 30.0}, {"rate30.mp4", 30.0}, {"ntsc.mpg", 30000.0 / 1001}};
        for (const auto& [clip, rate] : clips) {
            VideoSource::Options options;
            options.useIndexCache = false;
            VideoSource source;
            EngineError error;
            QVERIFY2(source.open(corpus::path(clip), &error, options), qPrintable(error.message()));
            QVERIFY2(
                qFuzzyCompare(source.info().frameRate, rate),
                qPrintable(QString("%1: %2").arg(clip).arg(source.info().frameRate, 0, 'f', 6)));
        }
    }

    void aStreamThatIsNotVideoIsRefused()
    {
        for (const int stream : {5, 100}) {
            VideoSource::Options options;
            options.useIndexCache = false;
            options.source.stream = stream;
            VideoSource source;
            EngineError error;
            QVERIFY(!source.open(corpus::path("twovideo.ts"), &error, options));
            QCOMPARE(error.code, EngineError::Code::NoStreams);
            QVERIFY2(error.message().contains(QLatin1String("not a video stream")),
                     qPrintable(error.message()));
        }
    }

    // Upright by default at the turned size, numbered as stored; with autorotation off, the
    // stored pictures: those of the same stream without the turn.
    void aTurnedVideoIsReadUpright()
    {
        QSize size;
        const QVector<QByteArray> stored = decoded("upright.mp4", {}, &size);
        QCOMPARE(size, QSize(318, 178));
        const QVector<QByteArray> turned = decoded("rot90.mp4", {}, &size);
        QCOMPARE(size, QSize(178, 318));
        QCOMPARE(turned.size(), stored.size());
        QVERIFY(turned.first() != stored.first());

        for (const bool autorotate : {true, false}) {
            VideoSource::Options options;
            options.useIndexCache = false;
            options.source.autorotate = autorotate;
            VideoSource source;
            EngineError error;
            QVERIFY2(source.open(corpus::path("rot90.mp4"), &error, options),
                     qPrintable(error.message()));
            const MediaInfo& info = source.info();
            // ffprobe says "rotation=90": a quarter turn against the clock.
            QCOMPARE(info.rotation, autorotate ? 270 : 0);
            QCOMPARE(QSize(info.storedWidth, info.storedHeight), QSize(318, 178));
            QCOMPARE(QSize(info.width, info.height),
                     autorotate ? QSize(178, 318) : QSize(318, 178));
            const QString problem = compareAccess(source, autorotate ? turned : stored);
            QVERIFY2(problem.isEmpty(), qPrintable(problem));
            const auto f = source.frame(3, &error);
            QVERIFY(f);
            QCOMPARE(QSize(f->width(), f->height()), QSize(info.width, info.height));
        }
    }
};

QObject* makeStreamsTest()
{
    return new StreamsTest;
}

#include "tst_streams.moc"
