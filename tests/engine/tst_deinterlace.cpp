// Deinterlacing: every frame, read in order or reached at random, is the picture ffmpeg's
// bwdif filter (one frame per frame, frames flagged interlaced only) makes of it, on clips
// made here with ffmpeg: MPEG-2 and H.264 (MBAFF) coded interlaced, one that turns from
// progressive to interlaced, and a progressive one it leaves alone.

#include "frameconverter.h"
#include "frameserver.h"
#include "sequentialdecoder.h"
#include "videosource.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <numeric>

using namespace framix;

namespace {

constexpr auto kBwdif = "bwdif=mode=send_frame:parity=auto:deint=interlaced";

QString mediaDir()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/deinterlace-media");
}

bool ffmpeg(const QStringList& args, QByteArray* out = nullptr)
{
    QProcess p;
    p.start(QStringLiteral("ffmpeg"), QStringList{QStringLiteral("-nostdin"), QStringLiteral("-v"),
                                                  QStringLiteral("error"), QStringLiteral("-y")} +
                                          args);
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return false;
    if (out)
        *out = p.readAllStandardOutput();
    return true;
}

// Makes mediaDir()/name with ffmpeg (arguments before the output name) unless it is there.
QString made(const QString& name, const QStringList& args)
{
    QDir().mkpath(mediaDir());
    const QString out = mediaDir() + QLatin1Char('/') + name;
    if (QFileInfo(out).size() > 0)
        return out;
    const QString part = out + QStringLiteral(".part.") + QFileInfo(name).suffix();
    if (!ffmpeg(args + QStringList{part}) || !QFile::rename(part, out))
        return QString();
    return out;
}

QStringList split(const char* args)
{
    return QString::fromLatin1(args).split(QLatin1Char(' '));
}

// `parts` (elementary streams) one after the other, in a transport stream.
QString joined(const QString& name, const QStringList& parts)
{
    const QString out = mediaDir() + QLatin1Char('/') + name;
    if (QFileInfo(out).size() > 0)
        return out;
    QByteArray all;
    for (const QString& part : parts) {
        QFile f(part);
        if (part.isEmpty() || !f.open(QIODevice::ReadOnly))
            return QString();
        all += f.readAll();
    }
    QFile stream(out + QStringLiteral(".m2v"));
    if (!stream.open(QIODevice::WriteOnly | QIODevice::Truncate) || stream.write(all) != all.size())
        return QString();
    stream.close();
    return made(name, QStringList{QStringLiteral("-fflags"), QStringLiteral("+genpts"),
                                  QStringLiteral("-r"), QStringLiteral("25"), QStringLiteral("-i"),
                                  stream.fileName()} +
                          split("-c copy -f mpegts"));
}

// Interlaced test pictures with motion: fields of a 50 Hz source woven into frames. Names
// with a slash are real recordings, kept beside the project.
QString clip(const QString& name)
{
    if (name.contains(QLatin1Char('/')))
        return QStringLiteral(FRAMIX_REALWORLD_DIR) + QLatin1Char('/') + name;
    if (name == QLatin1String("mpeg2i.mpg"))
        return made(name, split("-f lavfi -i testsrc2=s=350x286:r=50:d=1.2 -vf "
                                "tinterlace=interleave_top,fieldorder=tff,format=yuv420p "
                                "-c:v mpeg2video -flags +ildct+ilme -top 1 -q:v 4 -g 12 -bf 2 "
                                "-f vob"));
    if (name == QLatin1String("h264i.mp4"))
        return made(name, split("-f lavfi -i testsrc2=s=718x484:r=50:d=1.2 -vf "
                                "tinterlace=interleave_top,fieldorder=tff,format=yuv420p "
                                "-c:v libx264 -preset veryfast -flags +ildct+ilme -x264-params "
                                "interlaced=1:tff=1 -g 12 -bf 2"));
    if (name == QLatin1String("progressive.mp4"))
        return made(name, split("-f lavfi -i testsrc2=s=350x286:r=25:d=1.2 -pix_fmt yuv420p "
                                "-c:v libx264 -preset veryfast -g 10 -bf 2"));
    // Elementary streams joined, each with its own sequence header, which turns the
    // stream progressive or interlaced from there on: two GOPs of each kind.
    const QString progressive =
        made(QStringLiteral("progressive.m2v"),
             split("-f lavfi -i testsrc2=s=350x286:r=25:d=0.96 -pix_fmt yuv420p -c:v mpeg2video "
                   "-q:v 4 -g 12 -bf 2 -f mpeg2video"));
    const QString interlaced =
        made(QStringLiteral("interlaced.m2v"),
             split("-f lavfi -i mandelbrot=s=350x286:r=50 -frames:v 24 -vf "
                   "tinterlace=interleave_top,fieldorder=tff,format=yuv420p -c:v mpeg2video "
                   "-flags +ildct+ilme -top 1 -q:v 4 -g 12 -bf 2 -f mpeg2video"));
    if (name == QLatin1String("mixed.ts"))
        return joined(name, {progressive, interlaced});
    if (name == QLatin1String("interrupted.ts"))
        return joined(name, {interlaced, progressive, interlaced});
    return QString();
}

// ffmpeg's MD5 of each decoded picture, deinterlaced by bwdif or as decoded.
QVector<QByteArray> ffmpegMd5s(const QString& path, bool deinterlace)
{
    QStringList args{QStringLiteral("-i"), path, QStringLiteral("-map"), QStringLiteral("0:v:0")};
    if (deinterlace)
        args << QStringLiteral("-vf") << QString::fromLatin1(kBwdif);
    args << split("-fps_mode passthrough -f framemd5 -");
    QByteArray out;
    QVector<QByteArray> md5s;
    if (!ffmpeg(args, &out))
        return md5s;
    for (const QByteArray& line : out.split('\n'))
        if (!line.startsWith('#') && line.contains(','))
            md5s << line.mid(line.lastIndexOf(',') + 1).trimmed();
    return md5s;
}

VideoSource::Options options(bool deinterlace)
{
    VideoSource::Options o;
    o.useIndexCache = false;
    o.source.deinterlace = deinterlace;
    return o;
}

void addClipRows()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("interlaced");
    QTest::newRow("MPEG-2 350x286") << "mpeg2i.mpg" << true;
    QTest::newRow("H.264 MBAFF 718x484") << "h264i.mp4" << true;
    QTest::newRow("MPEG-2 progressive, then interlaced") << "mixed.ts" << true;
    QTest::newRow("MPEG-2 interlaced, progressive, interlaced") << "interrupted.ts" << true;
    QTest::newRow("H.264 progressive") << "progressive.mp4" << false;
    // A camcorder's 1080i, coded as field pairs (two packets a frame) with leading B
    // pictures, and a DVB broadcast.
    QTest::newRow("real: field-coded AVCHD")
        << "./h264i_metadata-extractor-images_SonyA7M3_avchd.mts" << true;
    QTest::newRow("real: DVB MPEG-2") << "./mpeg2i_tsduck-test_test-025_dvb-sd.ts" << true;
}

} // namespace

class DeinterlaceTest : public QObject
{
    Q_OBJECT
private slots:
    // Read from the start, frame after frame, as the command line reads it. The interlaced
    // clips are interlaced indeed (bwdif changes their interlaced frames), the progressive
    // one is not.
    void inOrder_data() { addClipRows(); }
    void inOrder()
    {
        QFETCH(QString, name);
        QFETCH(bool, interlaced);
        const QString path = clip(name);
        QVERIFY2(!path.isEmpty(), "ffmpeg could not make the clip");
        if (!QFileInfo::exists(path))
            QSKIP("the real recordings beside the project are absent");
        const QVector<QByteArray> want = ffmpegMd5s(path, true);
        const QVector<QByteArray> plain = ffmpegMd5s(path, false);
        QVERIFY(want.size() >= 12);
        QCOMPARE(plain.size(), want.size());
        int changed = 0;
        for (int n = 0; n < want.size(); ++n)
            changed += want[n] != plain[n];
        if (interlaced)
            QVERIFY2(changed >= want.size() / 2, qPrintable(QString::number(changed)));
        else
            QCOMPARE(changed, 0);

        SequentialDecoder decoder;
        EngineError error;
        SourceOptions source;
        source.deinterlace = true;
        QVERIFY2(decoder.open(path, &error, nullptr, source), qPrintable(error.message()));
        QVector<QByteArray> got;
        while (auto f = decoder.next()) {
            QCOMPARE(f->number(), int(got.size()));
            got << f->rawMd5();
        }
        QCOMPARE(got, want);
    }

    // Reached at random, forwards and backwards: the same pictures, first and last frame
    // included, also where a window's first picture has its previous one in the GOP before.
    void atRandom_data() { addClipRows(); }
    void atRandom()
    {
        QFETCH(QString, name);
        const QString path = clip(name);
        QVERIFY(!path.isEmpty());
        if (!QFileInfo::exists(path))
            QSKIP("the real recordings beside the project are absent");
        const QVector<QByteArray> want = ffmpegMd5s(path, true);
        const int last = int(want.size()) - 1;
        VideoSource source;
        EngineError error;
        QVERIFY2(source.open(path, &error, options(true)), qPrintable(error.message()));
        QCOMPARE(source.frameCount(), int(want.size()));
        const auto check = [&](int n) {
            const auto f = source.frame(n, &error);
            if (!f)
                return QStringLiteral("frame %1: %2").arg(n).arg(error.message());
            if (f->rawMd5() != want[n])
                return QStringLiteral("frame %1 is not ffmpeg's").arg(n);
            return QString();
        };
        QStringList wrong;
        // Jumps (each a seek of its own), then steps forward from a jump, then back from
        // the end to the first frame.
        // Frame 24 and 48 start a kind of picture in the joined clips.
        for (int n : {last / 2, 0, last, 12, 24, 11, 13, 25, 23, 48, 49, last - 1, 1, 17})
            if (const QString w = n <= last ? check(n) : QString(); !w.isEmpty())
                wrong << w;
        source.setCacheLimit(0);
        for (int n = 5; n <= 9; ++n)
            if (const QString w = check(n); !w.isEmpty())
                wrong << w;
        source.setCacheLimit(64 << 20);
        for (int n = last; n >= 0; --n)
            if (const QString w = check(n); !w.isEmpty())
                wrong << w;
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QStringLiteral("; "))));
    }

    // Switched on and off on an open source: no picture cached with the other setting is
    // handed out, and the numbering (and the cached index) does not depend on it.
    void switchedWhileOpen()
    {
        const QString path = clip(QStringLiteral("mpeg2i.mpg"));
        QVERIFY(!path.isEmpty());
        const QVector<QByteArray> want = ffmpegMd5s(path, true);
        const QVector<QByteArray> plain = ffmpegMd5s(path, false);
        QTemporaryDir cache;
        VideoSource::Options o;
        o.indexCacheDir = cache.path();
        o.fastIndex = false; // an index made by decoding goes to the cache at once
        VideoSource source;
        QVERIFY(source.open(path, nullptr, o));
        QVERIFY(!source.deinterlace());
        for (int n : {20, 19, 18})
            QCOMPARE(source.frame(n)->rawMd5(), plain[n]);
        source.setDeinterlace(true);
        for (int n : {19, 20, 21, 18})
            QCOMPARE(source.frame(n)->rawMd5(), want[n]);
        source.setDeinterlace(false);
        QCOMPARE(source.frame(20)->rawMd5(), plain[20]);
        QCOMPARE(source.frame(21)->rawMd5(), plain[21]);

        VideoSource again;
        o.source.deinterlace = true;
        QVERIFY(again.open(path, nullptr, o));
        QVERIFY(again.stats().indexFromCache);
        QCOMPARE(again.frameCount(), source.frameCount());
        QCOMPARE(again.frame(3)->rawMd5(), want[3]);
    }

    // Through the worker: after the switch, no picture made with the old setting comes
    // out, whether asked for, read ahead, fetched or queued for playback.
    void serverFollowsTheSetting()
    {
        const QString path = clip(QStringLiteral("h264i.mp4"));
        QVERIFY(!path.isEmpty());
        QVector<QImage> plain, deinterlaced;
        for (bool on : {false, true}) {
            VideoSource source;
            QVERIFY(source.open(path, nullptr, options(on)));
            FrameConverter converter;
            for (int n = 0; n < source.frameCount(); ++n)
                (on ? deinterlaced : plain) << converter.toDisplayImage(*source.frame(n));
        }
        const int count = int(plain.size());
        for (int n = 0; n < count; ++n)
            QVERIFY(!deinterlaced[n].isNull() && deinterlaced[n] != plain[n]);

        FrameServer server;
        QSignalSpy opened(&server, &FrameServer::opened);
        QSignalSpy ready(&server, &FrameServer::frameReady);
        server.openFile(path);
        QVERIFY(opened.wait(30000));
        const auto readyFrame = [&] { return ready.last().at(0).value<VideoFrame>().number(); };
        const auto readyImage = [&] { return ready.last().at(1).value<QImage>(); };
        for (int n = 3; n <= 5; ++n) { // steps: the frames after are read ahead meanwhile
            server.requestFrame(n);
            QTRY_VERIFY_WITH_TIMEOUT(!ready.isEmpty() && readyFrame() == n, 30000);
            QCOMPARE(readyImage(), plain[n]);
        }
        server.setDeinterlace(true);
        for (int n : {6, 5}) {
            server.requestFrame(n);
            QTRY_VERIFY_WITH_TIMEOUT(!ready.isEmpty() && readyFrame() == n, 30000);
            QCOMPARE(readyImage(), deinterlaced[n]);
        }
        EngineError error;
        const auto fetched = server.fetchFrame(7, &error);
        QVERIFY2(fetched, qPrintable(error.message()));
        QCOMPARE(fetched->image.convertToFormat(QImage::Format_RGB32), deinterlaced[7]);

        ready.clear();
        server.requestFrame(10);
        server.setDeinterlace(false);
        server.requestFrame(10);
        QTRY_VERIFY_WITH_TIMEOUT(!ready.isEmpty() && readyFrame() == 10, 30000);
        for (const auto& answer : std::as_const(ready))
            QCOMPARE(answer.at(1).value<QImage>(), plain[10]);

        // Playback: switched while frames are queued and one is being decoded.
        server.startStream(0);
        QTRY_COMPARE_WITH_TIMEOUT(server.peekStreamFrame(), 0, 30000);
        server.setDeinterlace(true);
        QVector<int> got, wrong;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                while (auto f = server.takeStreamFrame()) {
                    const int n = f->frame.number();
                    got << n;
                    if (f->image != deinterlaced.value(n))
                        wrong << n;
                }
                return server.streamFinished() && server.peekStreamFrame() < 0;
            }(),
            30000);
        QVector<int> all(count);
        std::iota(all.begin(), all.end(), 0);
        QCOMPARE(got, all);
        QCOMPARE(wrong, QVector<int>());
    }
};

QObject* makeDeinterlaceTest()
{
    return new DeinterlaceTest;
}

#include "tst_deinterlace.moc"
