// Files that are not media, or damaged media: a clear error or the frames that decode,
// never a crash or a hang.

#include "corpus.h"
#include "filepaths.h"
#include "sequentialdecoder.h"
#include "videosource.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <unistd.h>

using namespace framix;

Q_DECLARE_METATYPE(framix::EngineError::Code)

class BadInputTest : public QObject
{
    Q_OBJECT

    // Sequentially decoded checksums of a file: the reference for damaged files, whose
    // oracle is what the decoder makes of them reading from the start.
    static QVector<QByteArray> sequentialHashes(const QString& path)
    {
        QVector<QByteArray> hashes;
        SequentialDecoder decoder;
        if (!decoder.open(path, nullptr))
            return hashes;
        while (auto f = decoder.next())
            hashes << f->rawMd5();
        return hashes;
    }

private slots:
    void refused_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<EngineError::Code>("code");
        QTest::newRow("zero bytes") << "empty.mpg" << EngineError::Code::NotMedia;
        QTest::newRow("text named .mpg") << "text.mpg" << EngineError::Code::NotMedia;
        QTest::newRow("huge raw picture") << "huge.y4m" << EngineError::Code::PictureTooLarge;
        QTest::newRow("huge AVI picture") << "huge.avi" << EngineError::Code::PictureTooLarge;
        QTest::newRow("unknown codec") << "unsupported.mkv" << EngineError::Code::UnsupportedCodec;
        QTest::newRow("folder") << "folder.mpg" << EngineError::Code::IsDirectory;
        QTest::newRow("missing") << "no-such-file.mpg" << EngineError::Code::NotFound;
    }
    void refused()
    {
        QFETCH(QString, name);
        QFETCH(EngineError::Code, code);
        VideoSource source;
        EngineError error;
        QVERIFY(!source.open(corpus::path(name), &error));
        QVERIFY2(error.code == code, qPrintable(error.message()));
        QVERIFY(!error.message().isEmpty());
        QVERIFY(!source.frame(0, &error));
    }

    void unreadableFile()
    {
        if (geteuid() == 0)
            QSKIP("root reads any file; the command-line test covers this as another user");
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("locked.mpg"));
        QVERIFY(QFile::copy(corpus::path(QStringLiteral("mpeg1.mpg")),
                            dir.filePath(QStringLiteral("x.mpg"))));
        QFile::setPermissions(path, QFileDevice::Permissions());
        VideoSource source;
        EngineError error;
        QVERIFY(!source.open(path, &error));
        QCOMPARE(error.code, EngineError::Code::PermissionDenied);
    }

    // A loop of symbolic links and a name too long are told as the system tells them, not
    // as a missing file.
    void namesTheSystemRefuses()
    {
        QTemporaryDir dir;
        const QString loop = dir.filePath(QStringLiteral("loop.mpg"));
        QVERIFY(QFile::link(loop, loop));
        const QString tooLong =
            dir.filePath(QString(300, QLatin1Char('x')) + QStringLiteral(".mpg"));
        for (const QString& path : {loop, tooLong}) {
            VideoSource source;
            EngineError error;
            QVERIFY(!source.open(path, &error));
            QCOMPARE(error.code, EngineError::Code::IoError);
            QVERIFY2(error.message().contains(path == loop ? QLatin1String("symbolic links")
                                                           : QLatin1String("too long")),
                     qPrintable(error.message()));
        }
    }

    // A name that is not valid UTF-8 is opened by its bytes, from the command line and from
    // the name Qt shows for it (undecodable bytes as U+FFFD, as a file dialog gives it).
    void namesThatAreNotUtf8()
    {
        QTemporaryDir dir;
        const QByteArray raw = QFile::encodeName(dir.path()) + "/\xff\xfe\xe9.mpg";
        QVERIFY(QFile::copy(corpus::path(QStringLiteral("mpeg1.mpg")),
                            QFile::decodeName(dir.path().toUtf8()) + "/x.mpg"));
        QVERIFY(::rename(QFile::encodeName(dir.filePath(QStringLiteral("x.mpg"))).constData(),
                         raw.constData()) == 0);
        const QString shown = QFile::decodeName(raw);
        QVERIFY(!QFileInfo::exists(shown));
        const QVector<QByteArray> expected =
            sequentialHashes(corpus::path(QStringLiteral("mpeg1.mpg")));
        for (const QString& path : {pathFromBytes(raw), pathFromShown(shown)}) {
            VideoSource source;
            EngineError error;
            QVERIFY2(source.open(path, &error), qPrintable(error.message()));
            const auto f = source.frame(7, &error);
            QVERIFY2(f, qPrintable(error.message()));
            QCOMPARE(f->rawMd5(), expected[7]);
            QCOMPARE(QFileInfo(shownPath(path)).fileName(), QFileInfo(shown).fileName());
        }
    }

    // Once open, the file is read through what was opened: renamed or deleted meanwhile,
    // every frame still comes, also those that start reading again from the top.
    void renamedOrDeletedWhileOpen()
    {
        for (const bool remove : {false, true}) {
            QTemporaryDir dir;
            const QString path = dir.filePath(QStringLiteral("clip.mpg"));
            QVERIFY(QFile::copy(corpus::path(QStringLiteral("mpeg2.mpg")), path));
            const QVector<QByteArray> expected = sequentialHashes(path);
            VideoSource::Options options;
            options.useIndexCache = false;
            VideoSource source;
            EngineError error;
            QVERIFY2(source.open(path, &error, options), qPrintable(error.message()));
            QVERIFY(source.frame(source.frameCount() - 1, &error));
            if (remove)
                QVERIFY(QFile::remove(path));
            else
                QVERIFY(QFile::rename(path, dir.filePath(QStringLiteral("moved.mpg"))));
            for (const int n : {0, 1, source.frameCount() / 2, 0}) {
                const auto f = source.frame(n, &error);
                QVERIFY2(f, qPrintable(error.message()));
                QCOMPARE(f->rawMd5(), expected[n]);
            }
        }
    }

    // Copies with bytes overwritten somewhere in the middle (a bad disk, a broken download):
    // where the scan takes such a file rather than decoding it, its numbers are the
    // decoder's, pictures the decoder drops included. (Not so for "packed" DivX and Xvid
    // streams: whether the decoder keeps the B-VOP packed behind a damaged one depends on
    // where its decoding of the damaged VOP gave up, which only decoding tells.)
    void damagedCopiesAreNumberedAsDecoded_data()
    {
        QTest::addColumn<QString>("name");
        for (const char* clip : {"upright.mp4", "hevc.mp4", "vfr.mkv", "mpeg4.avi", "mpeg1.mpg"})
            QTest::newRow(clip) << QString::fromLatin1(clip);
    }
    void damagedCopiesAreNumberedAsDecoded()
    {
        QFETCH(QString, name);
        QFile in(corpus::path(name));
        QVERIFY(in.open(QIODevice::ReadOnly));
        const QByteArray original = in.readAll();
        QVERIFY(original.size() > 4096);
        QTemporaryDir dir;
        const QString copy = dir.filePath(QStringLiteral("copy.") + QFileInfo(name).suffix());
        const int kCopies = qEnvironmentVariableIntValue("FRAMIX_TEST_SANITIZED") ? 4 : 12;
        int scanned = 0;
        QStringList wrong;
        for (quint32 seed = 1; seed <= quint32(kCopies); ++seed) {
            QRandomGenerator rng(seed * 7919u + quint32(qHash(name)));
            QByteArray bytes = original;
            const qsizetype at = bytes.size() / 4 + rng.bounded(int(bytes.size() / 2));
            const int length = 1 + rng.bounded(1000);
            for (qsizetype i = at; i < qMin(bytes.size(), at + length); ++i)
                bytes[i] = char(rng.bounded(256));
            QFile out(copy);
            QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
            QCOMPARE(out.write(bytes), bytes.size());
            out.close();
            VideoSource::Options options;
            options.useIndexCache = false;
            VideoSource source;
            EngineError error;
            if (!source.open(copy, &error, options) || !source.stats().indexFromScan)
                continue; // refused, or indexed by decoding: right by construction
            ++scanned;
            auto decoded = VideoSource::indexByDecoding(copy, nullptr, &error);
            QVERIFY2(decoded, qPrintable(error.message()));
            const int count = source.frameCount();
            if (!source.checkIndex(*decoded))
                wrong << QStringLiteral("seed %1 (%2 frames scanned, %3 decoded)")
                             .arg(seed)
                             .arg(count)
                             .arg(decoded->frameCount());
        }
        qInfo().noquote() << name << ":" << scanned << "of" << kCopies
                          << "damaged copies indexed by the scan";
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QStringLiteral("; "))));
    }

    // Damaged files stay usable for the frames that decode, and random access agrees with
    // reading them straight through.
    void damagedMediaStayUsable_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("truncated") << "truncated.mpg";
        QTest::newRow("garbage in the middle") << "garbage.mpg";
    }
    void damagedMediaStayUsable()
    {
        QFETCH(QString, name);
        const QVector<QByteArray> expected = sequentialHashes(corpus::path(name));
        QVERIFY(expected.size() > 20);
        VideoSource source;
        EngineError error;
        QVERIFY2(source.open(corpus::path(name), &error), qPrintable(error.message()));
        QCOMPARE(source.frameCount(), int(expected.size()));
        QRandomGenerator rng(7);
        for (int i = 0; i < 60; ++i) {
            const int n = int(rng.bounded(source.frameCount()));
            const auto f = source.frame(n, &error);
            QVERIFY2(f, qPrintable(error.message()));
            QVERIFY2(f->rawMd5() == expected[n], qPrintable(QStringLiteral("frame %1").arg(n)));
        }
    }
};

QObject* makeBadInputTest()
{
    return new BadInputTest;
}

#include "tst_badinput.moc"
