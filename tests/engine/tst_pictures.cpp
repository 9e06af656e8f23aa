// Conversion to RGB and the BMP files made from it.

#include "atomicfile.h"
#include "bmpwriter.h"
#include "corpus.h"
#include "frameconverter.h"
#include "videosource.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace framix;

namespace {

// ffmpeg's own RGB picture of frame n, with the given input colour matrix.
QByteArray ffmpegRgb(const QString& clip, int n, const QString& matrix)
{
    QProcess p;
    p.start(QStringLiteral("ffmpeg"),
            {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"),
             corpus::path(clip), QStringLiteral("-vf"),
             QStringLiteral("select=eq(n\\,%1),scale=in_color_matrix=%2:in_range=tv:out_range=pc")
                 .arg(n)
                 .arg(matrix),
             QStringLiteral("-frames:v"), QStringLiteral("1"), QStringLiteral("-pix_fmt"),
             QStringLiteral("rgb24"), QStringLiteral("-f"), QStringLiteral("rawvideo"),
             QStringLiteral("-")});
    p.waitForFinished(120000);
    return p.readAllStandardOutput();
}

int maxDifference(const QImage& image, const QByteArray& rgb)
{
    const int w = image.width(), h = image.height();
    if (rgb.size() != w * h * 3)
        return 256;
    int worst = 0;
    for (int y = 0; y < h; ++y) {
        const uchar* line = image.constScanLine(y);
        const auto* ref = reinterpret_cast<const uchar*>(rgb.constData()) + y * w * 3;
        for (int x = 0; x < w * 3; ++x)
            worst = qMax(worst, qAbs(int(line[x]) - int(ref[x])));
    }
    return worst;
}

} // namespace

class PictureTest : public QObject
{
    Q_OBJECT
private slots:
    // Untagged SD video is BT.601 and untagged HD video BT.709; either way our pixels agree
    // with ffmpeg's conversion using that matrix.
    void rgbFollowsTheColourMatrix_data()
    {
        QTest::addColumn<QString>("clip");
        QTest::addColumn<int>("frame");
        QTest::addColumn<QString>("matrix");
        QTest::newRow("576 lines, BT.601") << "mpeg2.mpg" << 37 << "bt601";
        QTest::newRow("1080 lines, BT.709") << "h264.mp4" << 301 << "bt709";
    }
    void rgbFollowsTheColourMatrix()
    {
        QFETCH(QString, clip);
        QFETCH(int, frame);
        QFETCH(QString, matrix);
        VideoSource source;
        QVERIFY(source.open(corpus::path(clip), nullptr));
        const auto f = source.frame(frame);
        QVERIFY(f);
        FrameConverter converter;
        const QImage image = converter.toBgrImage(*f).convertToFormat(QImage::Format_RGB888);
        QCOMPARE(image.size(), QSize(source.info().width, source.info().height));
        const QByteArray reference = ffmpegRgb(clip, frame, matrix);
        QVERIFY2(
            maxDifference(image, reference) <= 1,
            qPrintable(QStringLiteral("max difference %1").arg(maxDifference(image, reference))));
    }

    // The BMP is the same picture, stored bottom-up as BGR with padded rows: checked on an
    // odd width, where every row has padding.
    void bmpHoldsTheSamePicture_data()
    {
        QTest::addColumn<QString>("clip");
        QTest::newRow("odd width 33x17") << "odd.avi";
        QTest::newRow("352x288") << "mpeg1.mpg";
    }
    void bmpHoldsTheSamePicture()
    {
        QFETCH(QString, clip);
        VideoSource source;
        EngineError error;
        QVERIFY2(source.open(corpus::path(clip), &error), qPrintable(error.message()));
        const auto f = source.frame(source.frameCount() / 2);
        QVERIFY(f);
        FrameConverter converter;
        const QImage image = converter.toBgrImage(*f).convertToFormat(QImage::Format_RGB888);
        const QByteArray bmp = BmpWriter::encode(converter.toBgrImage(*f));
        const int w = f->width(), h = f->height();
        QCOMPARE(bmp.size(), int(BmpWriter::fileSize(w, h)));
        QCOMPARE(bmp.left(2), QByteArray("BM"));
        const auto u32 = [&](int at) {
            return quint32(uchar(bmp[at])) | quint32(uchar(bmp[at + 1])) << 8 |
                   quint32(uchar(bmp[at + 2])) << 16 | quint32(uchar(bmp[at + 3])) << 24;
        };
        QCOMPARE(u32(2), quint32(bmp.size()));
        QCOMPARE(u32(10), 54u);
        QCOMPARE(u32(18), quint32(w));
        QCOMPARE(u32(22), quint32(h));
        QCOMPARE(int(uchar(bmp[28])), 24);
        const int stride = BmpWriter::rowStride(w);
        for (int y = 0; y < h; ++y) {
            const char* row = bmp.constData() + 54 + qint64(h - 1 - y) * stride;
            const uchar* src = image.constScanLine(y);
            for (int x = 0; x < w; ++x) {
                QCOMPARE(uchar(row[3 * x]), src[3 * x + 2]);
                QCOMPARE(uchar(row[3 * x + 1]), src[3 * x + 1]);
                QCOMPARE(uchar(row[3 * x + 2]), src[3 * x]);
            }
            for (int x = w * 3; x < stride; ++x)
                QCOMPARE(int(row[x]), 0);
        }
        // And an independent reader sees the same picture.
        QImage decoded;
        QVERIFY(decoded.loadFromData(bmp, "BMP"));
        QCOMPARE(decoded.convertToFormat(QImage::Format_RGB888), image);
        QCOMPARE(QImage::fromData(BmpWriter::encode(image), "BMP")
                     .convertToFormat(QImage::Format_RGB888),
                 image);
    }

    // Every size and pixel format: the bitmap's pixel rows are byte for byte those of
    // ffmpeg's own BMP of the same frame, and the pictures for the screen and the
    // clipboard hold the same pixels. Widths that are not a multiple of the converter's
    // block size once left columns unconverted or wrote past the picture.
    void everySizeAndFormatIsFfmpegsPicture_data() { corpus::addPictureCaseRows(); }
    void everySizeAndFormatIsFfmpegsPicture()
    {
        QFETCH(corpus::PictureCase, c);
        QFile ref(c.reference);
        QVERIFY2(ref.open(QIODevice::ReadOnly), qPrintable(c.reference));
        const QByteArray refFile = ref.readAll();
        VideoSource source;
        EngineError error;
        QVERIFY2(source.open(c.clip, &error), qPrintable(error.message()));
        const auto f = source.frame(c.frame, &error);
        QVERIFY2(f, qPrintable(error.message()));
        FrameConverter converter;
        // Another frame goes through the converter first, as in a stream: a conversion
        // that only the first picture gets right is caught too.
        const auto first = source.frame(0);
        QVERIFY(first && !converter.toBgrImage(*first).isNull());
        const QImage bgr = converter.toBgrImage(*f);
        QVERIFY(!bgr.isNull());
        const QByteArray ours = corpus::bmpPixels(BmpWriter::encode(bgr));
        const QByteArray theirs = corpus::bmpPixels(refFile);
        QCOMPARE(ours.size(), theirs.size());
        int differing = 0;
        for (qsizetype i = 0; i < ours.size(); ++i)
            differing += ours[i] != theirs[i];
        QVERIFY2(differing == 0, qPrintable(QStringLiteral("%1 bytes differ").arg(differing)));

        const QImage expected =
            QImage::fromData(refFile, "BMP").convertToFormat(QImage::Format_RGB888);
        QCOMPARE(bgr.convertToFormat(QImage::Format_RGB888), expected);
        QCOMPARE(converter.toDisplayImage(*f).convertToFormat(QImage::Format_RGB888), expected);
    }

    void atomicWrite()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("frame1.bmp"));
        EngineError error;
        QVERIFY(writeFileAtomically(path, QByteArray("first"), &error));
        QVERIFY(writeFileAtomically(path, QByteArray("second"), &error));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("second"));
        // Failures leave neither the target nor a temporary file behind.
        QVERIFY(!writeFileAtomically(dir.filePath(QStringLiteral("missing/frame2.bmp")), "x", 1,
                                     &error));
        QCOMPARE(error.code, EngineError::Code::NotFound);
        QVERIFY(!writeFileAtomically(dir.path(), "x", 1, &error));
        QCOMPARE(error.code, EngineError::Code::IsDirectory);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"frame1.bmp"});
    }
};

QObject* makePictureTest()
{
    return new PictureTest;
}

#include "tst_pictures.moc"
