// Recordings made by real cameras, phones and encoders (not by us, nor by ffmpeg): every way
// of reaching a frame gives the picture the decoder gives when it reads the file from the
// start. Skipped when the folder of such files is absent.

#include "sequentialdecoder.h"
#include "videosource.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

using namespace framix;

namespace {

QString realMediaDir()
{
    return QStringLiteral(FRAMIX_REALWORLD_DIR);
}

QStringList realFiles()
{
    const QDir dir(realMediaDir());
    QStringList files;
    for (const QString& name : dir.entryList(QDir::Files, QDir::Name))
        if (!name.endsWith(QLatin1String(".md")) && !name.endsWith(QLatin1String(".tsv")))
            files << dir.filePath(name);
    return files;
}

// The decoder's pictures read from the start, as checksums of their packed planes.
QVector<QByteArray> sequentialChecksums(const QString& path, QString* problem)
{
    SequentialDecoder decoder;
    EngineError error;
    QVector<QByteArray> sums;
    if (!decoder.open(path, &error)) {
        *problem = error.message();
        return sums;
    }
    while (auto f = decoder.next())
        sums << f->rawMd5();
    return sums;
}

} // namespace

class RealMediaTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (realFiles().isEmpty())
            QSKIP("no real recordings here (../shared/realworld)");
    }

    void files_data()
    {
        QTest::addColumn<QString>("file");
        for (const QString& f : realFiles())
            QTest::newRow(qPrintable(QFileInfo(f).fileName())) << f;
    }

    // Forward steps, backward steps from the end, jumps in random order, with the index from
    // the scan and from decoding: all give frame n as the decoder numbers it.
    void everyAccessGivesTheDecodersFrame_data() { files_data(); }
    void everyAccessGivesTheDecodersFrame()
    {
        QFETCH(QString, file);
        QString problem;
        const QVector<QByteArray> expected = sequentialChecksums(file, &problem);
        QVERIFY2(!expected.isEmpty(), qPrintable(problem));
        // Under a sanitizer, jumps with the scanned index only.
        const bool sanitized = qEnvironmentVariableIntValue("FRAMIX_TEST_SANITIZED") != 0;
        for (const bool fast : {true, false}) {
            if (sanitized && !fast)
                break;
            VideoSource source;
            VideoSource::Options options;
            options.useIndexCache = false;
            options.fastIndex = fast;
            EngineError error;
            QVERIFY2(source.open(file, &error, options), qPrintable(error.message()));
            QCOMPARE(source.frameCount(), int(expected.size()));
            const int count = source.frameCount();
            // Forward over the whole file and back over its last GOPs with the scanned
            // index; jumps with both.
            QVector<int> order;
            if (fast && !sanitized) {
                for (int n = 0; n < count; ++n)
                    order << n;
                for (int n = count - 1; n >= qMax(0, count - 150); --n)
                    order << n;
            }
            QRandomGenerator rng(20261207);
            for (int i = 0; i < qMin(count, sanitized ? 15 : 40); ++i)
                order << int(rng.bounded(count));
            QStringList wrong;
            for (const int n : std::as_const(order)) {
                const auto frame = source.frame(n, &error);
                if (!frame)
                    wrong << QStringLiteral("%1: %2").arg(n).arg(error.message());
                else if (frame->rawMd5() != expected[n])
                    wrong << QStringLiteral("%1 differs").arg(n);
            }
            QVERIFY2(wrong.isEmpty(), qPrintable(QStringLiteral("%1 index, %2 wrong: %3")
                                                     .arg(fast ? "scanned" : "decoded")
                                                     .arg(wrong.size())
                                                     .arg(wrong.mid(0, 6).join("; "))));
            if (fast && !source.indexChecked())
                QVERIFY(source.checkIndex(*VideoSource::indexByDecoding(file, nullptr, &error)));
        }
    }

    // A broadcast capture that starts and ends in the middle of a GOP: the decoder shows 61
    // of its pictures, one gap among them; its rate is still the stream's 25 frames/s, and
    // its length the 61 frames at that rate.
    void captureCutMidGopKeepsItsRate()
    {
        const QString file = realMediaDir() + "/mpeg2i_tsduck-test_test-025_dvb-sd.ts";
        if (!QFileInfo::exists(file))
            QSKIP("the DVB capture is not here");
        VideoSource source;
        EngineError error;
        QVERIFY2(source.open(file, &error), qPrintable(error.message()));
        QCOMPARE(source.frameCount(), 61);
        QCOMPARE(source.info().frameRate, 25.0);
        const FrameIndex& index = source.index();
        QCOMPARE(index.frame(60).timeMs + qRound64(1000 / source.info().frameRate), qint64(2520));
    }
};

QObject* makeRealMediaTest()
{
    return new RealMediaTest;
}

#include "tst_realmedia.moc"
