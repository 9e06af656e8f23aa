// High dynamic range video (PQ, HLG) tone-mapped to standard range for the screen and the
// clipboard when the setting is on; everything else untouched.

#include "corpus.h"
#include "frameconverter.h"
#include "frameserver.h"
#include "tonemapper.h"
#include "videosource.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <numeric>

using namespace framix;

namespace {

QString sizesPath(const QString& name)
{
    return qEnvironmentVariable("FRAMIX_TEST_SIZES") + QLatin1Char('/') + name;
}

// The mean of all colour components, 0 to 255.
double meanLevel(const QImage& image)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    qint64 sum = 0;
    for (int y = 0; y < rgb.height(); ++y) {
        const uchar* line = rgb.constScanLine(y);
        for (int x = 0; x < rgb.width() * 3; ++x)
            sum += line[x];
    }
    return rgb.isNull() ? -1 : double(sum) / (qint64(rgb.width()) * rgb.height() * 3);
}

// Every frame's display picture, with tone mapping off and on.
struct References
{
    QVector<QImage> plain, toned;
};
References displayPictures(const QString& path)
{
    References r;
    VideoSource source;
    if (!source.open(path, nullptr))
        return r;
    FrameConverter plain, toned;
    toned.setTonemap(true);
    for (int n = 0; n < source.frameCount(); ++n) {
        const auto f = source.frame(n);
        r.plain << (f ? plain.toDisplayImage(*f) : QImage());
        r.toned << (f ? toned.toDisplayImage(*f) : QImage());
    }
    return r;
}

} // namespace

class TonemapTest : public QObject
{
    Q_OBJECT
private slots:
    void mediaInfoSaysHdr_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("hdr");
        QTest::newRow("PQ") << corpus::path(QStringLiteral("pq.mp4")) << true;
        QTest::newRow("HLG") << corpus::path(QStringLiteral("hlg.mkv")) << true;
        QTest::newRow("8-bit BT.709") << corpus::path(QStringLiteral("h264.mp4")) << false;
        QTest::newRow("10-bit, untagged") << sizesPath(QStringLiteral("h264-10bit.mkv")) << false;
    }
    void mediaInfoSaysHdr()
    {
        QFETCH(QString, path);
        QFETCH(bool, hdr);
        VideoSource source;
        EngineError error;
        QVERIFY2(source.open(path, &error), qPrintable(error.message()));
        QCOMPARE(source.info().hdr, hdr);
    }

    // Tone mapping on: the saved picture is Tonemapper's, the screen's has the same pixels
    // (also where the screen's picture would otherwise come from swscale directly, the 8-bit
    // 4:2:0 clip), and both are clearly not the picture as stored.
    void hdrFramesAreTonemapped_data()
    {
        QTest::addColumn<QString>("clip");
        QTest::newRow("PQ, 10-bit") << "pq.mp4";
        QTest::newRow("HLG, 8-bit 4:2:0") << "hlg.mkv";
    }
    void hdrFramesAreTonemapped()
    {
        QFETCH(QString, clip);
        VideoSource source;
        QVERIFY(source.open(corpus::path(clip), nullptr));
        const auto f = source.frame(12);
        QVERIFY(f);
        const QImage expected = Tonemapper().toBgrImage(*f);
        QVERIFY(!expected.isNull());
        FrameConverter plain, converter;
        converter.setTonemap(true);
        const QImage bgr = converter.toBgrImage(*f);
        QCOMPARE(bgr.format(), QImage::Format_BGR888);
        QCOMPARE(bgr, expected);
        const QImage display = converter.toDisplayImage(*f);
        QCOMPARE(display.format(), QImage::Format_RGB32);
        QCOMPARE(display.convertToFormat(QImage::Format_BGR888), expected);
        const double toned = meanLevel(expected), stored = meanLevel(plain.toBgrImage(*f));
        QVERIFY2(qAbs(toned - stored) > 30,
                 qPrintable(QStringLiteral("mean level %1, as stored %2").arg(toned).arg(stored)));
        // Switched off again, the same converter gives the stored picture.
        converter.setTonemap(false);
        QCOMPARE(converter.toBgrImage(*f), plain.toBgrImage(*f));
        QCOMPARE(converter.toDisplayImage(*f), plain.toDisplayImage(*f));
    }

    // Standard range video, 10-bit included, is converted exactly as with the setting off.
    void sdrFramesAreUntouched_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("frame");
        QTest::newRow("MPEG-2") << corpus::path(QStringLiteral("mpeg2.mpg")) << 37;
        QTest::newRow("H.264 10-bit") << sizesPath(QStringLiteral("h264-10bit.mkv")) << 2;
        QTest::newRow("H.264 tagged BT.709") << sizesPath(QStringLiteral("1280x720.mp4")) << 2;
    }
    void sdrFramesAreUntouched()
    {
        QFETCH(QString, path);
        QFETCH(int, frame);
        VideoSource source;
        QVERIFY(source.open(path, nullptr));
        const auto f = source.frame(frame);
        QVERIFY(f);
        FrameConverter plain, converter;
        converter.setTonemap(true);
        const QImage bgr = converter.toBgrImage(*f);
        QVERIFY(!bgr.isNull());
        QCOMPARE(bgr, plain.toBgrImage(*f));
        QCOMPARE(converter.toDisplayImage(*f), plain.toDisplayImage(*f));
    }

    // A frame the filters cannot tone-map is shown as stored rather than not at all, and
    // the failure is logged.
    void failedTonemapFallsBack()
    {
        VideoSource source;
        QVERIFY(source.open(corpus::path(QStringLiteral("pq-2085.mp4")), nullptr));
        const auto f = source.frame(2);
        QVERIFY(f);
        QVERIFY(Tonemapper().toBgrImage(*f).isNull());
        FrameConverter plain, converter;
        converter.setTonemap(true);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("without tone")));
        const QImage bgr = converter.toBgrImage(*f);
        QVERIFY(!bgr.isNull());
        QCOMPARE(bgr, plain.toBgrImage(*f));
        QCOMPARE(converter.toDisplayImage(*f), plain.toDisplayImage(*f));
    }

    // Through the worker: once the setting changes, no picture made with the old one is
    // handed out, whether it was read ahead for a step, is asked for again, is fetched or
    // waits in the playback queue.
    void serverFollowsTheSetting()
    {
        const QString clip = corpus::path(QStringLiteral("pq.mp4"));
        const References ref = displayPictures(clip);
        QCOMPARE(ref.toned.size(), 25);
        for (int n = 0; n < ref.toned.size(); ++n)
            QVERIFY(!ref.toned[n].isNull() && ref.toned[n] != ref.plain[n]);

        FrameServer server;
        QSignalSpy opened(&server, &FrameServer::opened);
        QSignalSpy ready(&server, &FrameServer::frameReady);
        server.openFile(clip);
        QVERIFY(opened.wait(30000));
        const auto readyFrame = [&] { return ready.last().at(0).value<VideoFrame>().number(); };
        const auto readyImage = [&] { return ready.last().at(1).value<QImage>(); };
        // Steps, tone mapping off: the frames after the last are read ahead meanwhile.
        for (int n = 3; n <= 5; ++n) {
            server.requestFrame(n);
            QTRY_VERIFY_WITH_TIMEOUT(!ready.isEmpty() && readyFrame() == n, 30000);
            QCOMPARE(readyImage(), ref.plain[n]);
        }
        server.setTonemap(true);
        for (int n : {6, 5}) { // the next step, then the frame before again
            server.requestFrame(n);
            QTRY_VERIFY_WITH_TIMEOUT(!ready.isEmpty() && readyFrame() == n, 30000);
            QCOMPARE(readyImage(), ref.toned[n]);
        }
        EngineError error;
        const auto fetched = server.fetchFrame(7, &error);
        QVERIFY2(fetched, qPrintable(error.message()));
        QCOMPARE(fetched->image.format(), QImage::Format_BGR888);
        QCOMPARE(fetched->image.convertToFormat(QImage::Format_RGB32), ref.toned[7]);

        // An answer that may have been made before the change is not delivered after it.
        ready.clear();
        server.requestFrame(10);
        server.setTonemap(false);
        server.requestFrame(10);
        QTRY_VERIFY_WITH_TIMEOUT(!ready.isEmpty() && readyFrame() == 10, 30000);
        for (const auto& answer : std::as_const(ready))
            QCOMPARE(answer.at(1).value<QImage>(), ref.plain[10]);

        // Playback: what was queued before the change is made again, in order, none lost.
        server.startStream(0);
        QTRY_COMPARE_WITH_TIMEOUT(server.peekStreamFrame(), 0, 30000);
        server.setTonemap(true);
        QVector<int> got, notToned;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                while (auto f = server.takeStreamFrame()) {
                    const int n = f->frame.number();
                    got << n;
                    if (f->image != ref.toned.value(n))
                        notToned << n;
                }
                return server.streamFinished() && server.peekStreamFrame() < 0;
            }(),
            30000);
        QVector<int> all(ref.toned.size());
        std::iota(all.begin(), all.end(), 0);
        QCOMPARE(got, all);
        QCOMPARE(notToned, QVector<int>());
        QCOMPARE(server.streamDropped(), 0);
    }
};

QObject* makeTonemapTest()
{
    return new TonemapTest;
}

#include "tst_tonemap.moc"
