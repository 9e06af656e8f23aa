// The index made from timestamps without decoding: identical to the one made by decoding
// wherever it is used, and never serving wrong numbers where the timestamps lie.

#include "corpus.h"
#include "videosource.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

using namespace framix;

namespace {

VideoSource::Options uncached(bool fast)
{
    VideoSource::Options o;
    o.useIndexCache = false;
    o.fastIndex = fast;
    return o;
}

} // namespace

class FastIndexTest : public QObject
{
    Q_OBJECT
private slots:
    // Every clip we make: the scan either declines or gives exactly the decoded index. The
    // kinds it is built for must not decline: that would make opening them slow again.
    void sameAsDecoding_data()
    {
        QTest::addColumn<QString>("clip");
        QTest::addColumn<bool>("scans");
        for (const QString& c : corpus::clips())
            QTest::newRow(qPrintable(c)) << corpus::path(c) << true;
        for (const char* c :
             {"mpeg2.ts", "opengop.mpg", "closedgop.mpg", "interlaced.mpg", "mjpeg.avi", "odd.avi",
              "h264.ts", "hevc.m2ts", "mpeg4-ip.avi", "xvid.avi", "interlaced.ts", "interlaced.mkv",
              "h264.avi", "pyramid.avi", "cut-pyramid.avi", "raw.h264"})
            QTest::newRow(c) << corpus::path(QLatin1String(c)) << true;
        // Starts in the middle of a GOP: which pictures before and around its first keyframe
        // come out is the decoder's to say. With timestamps, that stretch is decoded and the
        // rest read; the VOP model declines and the file is indexed by decoding.
        for (const char* c : {"midgop.ts", "cut-h264.ts", "cut-interlaced.ts", "cut-hevc.m2ts"})
            QTest::newRow(c) << corpus::path(QLatin1String(c)) << true;
        QTest::newRow("mpeg4-cut.avi") << corpus::path(QStringLiteral("mpeg4-cut.avi")) << false;
        // Timestamps that start again in the middle: indexed by decoding.
        QTest::newRow("spliced.ts") << corpus::path(QStringLiteral("spliced.ts")) << false;
        for (const corpus::PictureCase& c : corpus::pictureCases())
            QTest::newRow(qPrintable(c.what)) << c.clip << false;
        const QString sizes = qEnvironmentVariable("FRAMIX_TEST_SIZES");
        for (const QString& c : QDir(sizes).entryList({QStringLiteral("long-*")}))
            QTest::newRow(qPrintable(c)) << sizes + QLatin1Char('/') + c << true;
    }
    void sameAsDecoding()
    {
        QFETCH(QString, clip);
        QFETCH(bool, scans);
        compareWithDecoding(clip, scans);
    }

    // Windows encoders' WMV9 (WMV3) and VC-1 files, and longer ones joined from them without
    // re-encoding: the picture headers give the index, and it is the decoder's.
    void windowsMedia_data()
    {
        QTest::addColumn<QString>("clip");
        QTest::addColumn<QStringList>("joined"); // files joined into the clip, when it is one
        const QString dir = realWorldDir();
        for (const QString& name :
             QDir(dir).entryList({QStringLiteral("wmv3_*.wmv"), QStringLiteral("vc1_*.wmv")}))
            QTest::newRow(qPrintable(name)) << dir + QLatin1Char('/') + name << QStringList();
        const QString wmv3 = dir + QStringLiteral("/wmv3_brennon-HearMe_phase2.wmv");
        const QString vc1 = dir + QStringLiteral("/vc1_mirob2005-Light_Wave_GL_video.wmv");
        QTest::newRow("joined-wmv3")
            << QStringLiteral("joined-wmv3.wmv") << QStringList{wmv3, wmv3, wmv3};
        QTest::newRow("joined-vc1") << QStringLiteral("joined-vc1.wmv") << QStringList{vc1, vc1};
    }
    void windowsMedia()
    {
        QFETCH(QString, clip);
        QFETCH(QStringList, joined);
        if (!QDir(realWorldDir()).exists())
            QSKIP("no real-world media next to the project");
        if (!joined.isEmpty()) {
            clip = joinCopies(joined, clip);
            QVERIFY2(!clip.isEmpty(), "ffmpeg could not join the files");
        }
        compareWithDecoding(clip, true);
    }

    // Timestamps that put the pictures in decoding order while the decoder shows B-frames
    // in display order: the scan believes them, the first decode finds out, and the file is
    // indexed by decoding before any frame is served.
    void lyingTimestampsAreCaught()
    {
        const QString clip = corpus::path(QStringLiteral("lies.mkv"));
        VideoSource fast, decoded;
        EngineError error;
        QVERIFY(fast.open(clip, &error, uncached(true)));
        QVERIFY(fast.stats().indexFromScan);
        QVERIFY(decoded.open(clip, &error, uncached(false)));
        const int n = decoded.frameCount() / 2;
        const auto f = fast.frame(n, &error);
        QVERIFY2(f, qPrintable(error.message()));
        QCOMPARE(fast.stats().reindexed, 1);
        QCOMPARE(f->rawMd5(), decoded.frame(n)->rawMd5());
        QCOMPARE(fast.frameCount(), decoded.frameCount());
    }

private:
    // Real recordings, kept next to the project rather than in it.
    static QString realWorldDir() { return QStringLiteral(FRAMIX_REALWORLD_DIR); }

    // `files` joined by ffmpeg's concat demuxer without re-encoding, into the build tree.
    static QString joinCopies(const QStringList& files, const QString& name)
    {
        const QString dir =
            QCoreApplication::applicationDirPath() + QStringLiteral("/joined-media");
        QDir().mkpath(dir);
        const QString out = dir + QLatin1Char('/') + name;
        if (QFileInfo(out).size() > 0)
            return out;
        QFile list(out + QStringLiteral(".txt"));
        if (!list.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return QString();
        for (const QString& f : files)
            list.write("file '" + QFileInfo(f).absoluteFilePath().toUtf8() + "'\n");
        list.close();
        const QString partial = out + QStringLiteral(".part.wmv");
        QProcess ffmpeg;
        ffmpeg.start(QStringLiteral("ffmpeg"),
                     {QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"),
                      QStringLiteral("error"), QStringLiteral("-nostdin"), QStringLiteral("-y"),
                      QStringLiteral("-f"), QStringLiteral("concat"), QStringLiteral("-safe"),
                      QStringLiteral("0"), QStringLiteral("-i"), list.fileName(),
                      QStringLiteral("-map"), QStringLiteral("0:v"), QStringLiteral("-c"),
                      QStringLiteral("copy"), partial});
        if (!ffmpeg.waitForFinished(120000) || ffmpeg.exitStatus() != QProcess::NormalExit ||
            ffmpeg.exitCode() != 0 || !QFile::rename(partial, out))
            return QString();
        return out;
    }

    static void compareWithDecoding(const QString& clip, bool scans)
    {
        VideoSource fast, decoded;
        EngineError error;
        QVERIFY2(fast.open(clip, &error, uncached(true)), qPrintable(error.message()));
        QVERIFY2(decoded.open(clip, &error, uncached(false)), qPrintable(error.message()));
        QVERIFY(!decoded.stats().indexFromScan);
        QVERIFY(fast.stats().indexFromScan || !scans);
        if (!fast.stats().indexFromScan)
            return; // declined: indexed by decoding, as before
        const FrameIndex& a = fast.index();
        const FrameIndex& b = decoded.index();
        QCOMPARE(a.frameCount(), b.frameCount());
        QCOMPARE(a.packetCount(), b.packetCount());
        for (int n = 0; n < a.frameCount(); ++n) {
            QCOMPARE(a.frame(n).packet, b.frame(n).packet);
            QCOMPARE(a.frame(n).startPacket, b.frame(n).startPacket);
            QCOMPARE(a.frame(n).timeMs, b.frame(n).timeMs);
        }
        // And frames served from it are the decoder's, with no disagreement found.
        for (int n : {a.frameCount() - 1, a.frameCount() / 2, qMin(1, a.frameCount() - 1)}) {
            const auto f = fast.frame(n, &error);
            const auto g = decoded.frame(n, &error);
            QVERIFY2(f && g, qPrintable(error.message()));
            QCOMPARE(f->rawMd5(), g->rawMd5());
        }
        QCOMPARE(fast.stats().reindexed, 0);
    }
};

QObject* makeFastIndexTest()
{
    return new FastIndexTest;
}

#include "tst_fastindex.moc"
