// Sound decoding, the media clock, and what the engine says about a file.

#include "audiodecoder.h"
#include "audiostream.h"
#include "corpus.h"
#include "mediaclock.h"
#include "videosource.h"

#include <QTest>

#include <QThread>
#include <cmath>

using namespace framix;

class AudioTest : public QObject
{
    Q_OBJECT
private slots:
    void soundOnlyMediaHaveALengthInFrames()
    {
        VideoSource source;
        EngineError error;
        QVERIFY2(source.open(corpus::path(QStringLiteral("sound.mp2")), &error),
                 qPrintable(error.message()));
        QVERIFY(!source.info().hasVideo);
        QVERIFY(source.info().hasAudio);
        // About 4 seconds (MP2 frames round it up) at 25 frames per second.
        const qint64 ms = source.info().durationMs;
        QVERIFY2(ms >= 3990 && ms <= 4100, qPrintable(QString::number(ms)));
        QCOMPARE(source.info().frameCount, (ms * 25 + 500) / 1000);
        QCOMPARE(source.info().mediaType(), QStringLiteral("MP2 audio"));
        QVERIFY(!source.frame(0, &error));
    }

    void mediaTypeNamesBothStreams_data()
    {
        QTest::addColumn<QString>("clip");
        QTest::addColumn<QString>("type");
        QTest::newRow("mpeg2") << "mpeg2.mpg"
                               << "MPEG-2 video / MP2 audio";
        QTest::newRow("mpeg1") << "mpeg1.mpg"
                               << "MPEG-1 video / MP2 audio";
        QTest::newRow("wmv") << "wmv2.wmv"
                             << "WMV8 video / WMA audio";
        QTest::newRow("mp4") << "h264.mp4"
                             << "H.264 video / AAC audio";
        QTest::newRow("mkv without sound") << "vfr.mkv"
                                           << "H.264 video";
    }
    void mediaTypeNamesBothStreams()
    {
        QFETCH(QString, clip);
        QFETCH(QString, type);
        VideoSource source;
        QVERIFY(source.open(corpus::path(clip), nullptr));
        QCOMPARE(source.info().mediaType(), type);
    }

    void decodesTheWholeTone()
    {
        AudioDecoder audio;
        EngineError error;
        QVERIFY2(audio.open(corpus::path(QStringLiteral("sound.mp2")), &error),
                 qPrintable(error.message()));
        QCOMPARE(audio.sampleRate(), 44100);
        QByteArray pcm;
        qint64 start = -1, first = -1;
        while (audio.decode(&pcm, &start))
            if (first < 0)
                first = start;
        QCOMPARE(first, qint64(0));
        const int channels = audio.channels();
        const qint64 frames = pcm.size() / 2 / channels;
        QVERIFY2(qAbs(frames - 4 * 44100) < 44100 / 20, qPrintable(QString::number(frames)));
        // Count rising zero crossings over the middle two seconds: 440 Hz.
        const auto* s = reinterpret_cast<const qint16*>(pcm.constData());
        int crossings = 0;
        for (qint64 i = 44100 + 1; i < 3 * 44100; ++i)
            if (s[(i - 1) * channels] < 0 && s[i * channels] >= 0)
                ++crossings;
        QVERIFY2(qAbs(crossings / 2.0 - 440) < 440 * 0.02, qPrintable(QString::number(crossings)));
    }

    // What goes to the sound device at half and double speed: the tone keeps its pitch and
    // the sound lasts twice as long or half as long.
    void tempoKeepsThePitch_data()
    {
        QTest::addColumn<double>("tempo");
        QTest::newRow("half") << 0.5;
        QTest::newRow("three quarters") << 0.75;
        QTest::newRow("double") << 2.0;
    }
    void tempoKeepsThePitch()
    {
        QFETCH(double, tempo);
        AudioStream stream;
        QVERIFY(stream.open(corpus::path(QStringLiteral("sound.mp2")), nullptr));
        QVERIFY(stream.start(1000, tempo)); // from 1 s on: 3 s of a 440 Hz tone
        QByteArray out;
        char buffer[8192];
        for (qint64 n; (n = stream.read(buffer, sizeof buffer)) > 0;)
            out.append(buffer, int(n));
        QVERIFY(stream.atEnd());
        const int channels = stream.channels();
        const qint64 frames = out.size() / 2 / channels;
        const double expected = 3 * 44100 / tempo;
        QVERIFY2(qAbs(frames - expected) < expected * 0.03, qPrintable(QString::number(frames)));
        // The strongest frequency between 300 and 600 Hz over one second from the middle.
        const auto* s = reinterpret_cast<const qint16*>(out.constData());
        const qint64 from = frames / 2 - 22050;
        double bestPower = 0;
        int best = 0;
        for (int f = 300; f <= 600; ++f) {
            const double w = 2 * M_PI * f / 44100;
            double re = 0, im = 0;
            for (qint64 i = 0; i < 44100; ++i) {
                re += s[(from + i) * channels] * std::cos(w * i);
                im += s[(from + i) * channels] * std::sin(w * i);
            }
            if (re * re + im * im > bestPower) {
                bestPower = re * re + im * im;
                best = f;
            }
        }
        QVERIFY2(qAbs(best - 440) <= 440 * 0.02, qPrintable(QString::number(best)));
    }

    void seekLandsNearTheTime()
    {
        AudioDecoder audio;
        QVERIFY(audio.open(corpus::path(QStringLiteral("mpeg1.mpg")), nullptr));
        QVERIFY(audio.seek(5000));
        QByteArray pcm;
        qint64 start = -1;
        QVERIFY(audio.decode(&pcm, &start));
        QVERIFY2(start >= 4800000 && start <= 5100000, qPrintable(QString::number(start)));
    }

    void clockRunsAndFollowsSound()
    {
        MediaClock clock;
        QCOMPARE(clock.position(), qint64(0));
        clock.start();
        QThread::msleep(30);
        const qint64 a = clock.position();
        QVERIFY(a >= 30000);
        clock.pause();
        const qint64 paused = clock.position();
        QThread::msleep(20);
        QCOMPARE(clock.position(), paused);
        clock.setPosition(1000000);
        clock.setRate(2.0);
        clock.start();
        QThread::msleep(40);
        // Twice as fast: at least 80 ms of media time in 40 ms.
        QVERIFY(clock.position() >= 1080000);
        QVERIFY(!clock.followsAudio());
        clock.syncToAudio(5000000);
        QVERIFY(clock.followsAudio());
        const qint64 synced = clock.position();
        QVERIFY(synced >= 5000000 && synced < 5500000);
        // A sound server repeats its last report until it updates it: the clock keeps
        // running meanwhile instead of standing at the stale report.
        for (int i = 0; i < 10; ++i) {
            clock.syncToAudio(5000000);
            QThread::msleep(5);
        }
        QVERIFY(clock.position() >= 5080000);
        // Sound far ahead puts the clock there at once.
        QCOMPARE(clock.syncToAudio(9000000), qint64(0));
        QVERIFY(clock.position() >= 9000000 && clock.position() < 9100000);
        // Sound far behind (a device slow to start) does not hold the picture back: the
        // clock goes on and says how much sound to leave out.
        const qint64 before = clock.position();
        const qint64 behind = clock.syncToAudio(8000000);
        QVERIFY(behind >= 1000000 && behind < 1100000);
        QVERIFY(clock.position() >= before);
    }
};

QObject* makeAudioTest()
{
    return new AudioTest;
}

#include "tst_audio.moc"
