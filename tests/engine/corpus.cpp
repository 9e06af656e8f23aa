#include "corpus.h"

#include <QFile>
#include <QHash>
#include <QTest>

#include <cmath>

namespace corpus {

QString dir()
{
    return qEnvironmentVariable("FRAMIX_TEST_MEDIA");
}

QString path(const QString& name)
{
    return dir() + QLatin1Char('/') + name;
}

QStringList clips()
{
    return {QStringLiteral("mpeg1.mpg"), QStringLiteral("mpeg2.mpg"), QStringLiteral("mpeg4.avi"),
            QStringLiteral("xvid.avi"),  QStringLiteral("wmv2.wmv"),  QStringLiteral("h264.mp4"),
            QStringLiteral("vfr.mkv")};
}

QVector<OracleFrame> oracle(const QString& clip)
{
    static QHash<QString, QVector<OracleFrame>> loaded;
    auto it = loaded.find(clip);
    if (it != loaded.end())
        return *it;
    QVector<OracleFrame> frames;
    QFile f(path(clip) + QStringLiteral(".framemd5"));
    QFile keys(path(clip) + QStringLiteral(".keyframes")); // one 0 or 1 per frame
    qint64 num = 0, den = 0, firstPts = 0;
    if (f.open(QIODevice::ReadOnly) && keys.open(QIODevice::ReadOnly)) {
        while (!f.atEnd()) {
            const QByteArray line = f.readLine().trimmed();
            if (line.startsWith("#tb 0: ")) { // "#tb 0: 1/1000"
                const QList<QByteArray> tb = line.mid(7).split('/');
                num = tb.value(0).toLongLong();
                den = tb.value(1).toLongLong();
            }
            const QList<QByteArray> cols = line.split(',');
            if (line.startsWith('#') || cols.size() < 6 || den <= 0)
                continue;
            const qint64 pts = cols[2].trimmed().toLongLong();
            if (frames.isEmpty())
                firstPts = pts;
            frames.push_back({cols[4].trimmed().toInt(), cols[5].trimmed(),
                              std::llround(double(pts - firstPts) * num * 1000.0 / double(den)),
                              keys.readLine().trimmed() == "1"});
        }
    }
    loaded.insert(clip, frames);
    return frames;
}

QVector<PictureCase> pictureCases()
{
    const QString dir = qEnvironmentVariable("FRAMIX_TEST_SIZES");
    QVector<PictureCase> cases;
    QFile f(dir + QStringLiteral("/cases.txt"));
    if (!f.open(QIODevice::ReadOnly))
        return cases;
    while (!f.atEnd()) {
        const QStringList cols = QString::fromUtf8(f.readLine().trimmed()).split(QLatin1Char(' '));
        if (cols.size() < 4)
            continue;
        cases.push_back({dir + QLatin1Char('/') + cols[0], cols[1].toInt(),
                         dir + QLatin1Char('/') + cols[2], cols.mid(3).join(QLatin1Char(' '))});
    }
    return cases;
}

void addPictureCaseRows()
{
    QTest::addColumn<PictureCase>("c");
    const QVector<PictureCase> cases = pictureCases();
    for (const PictureCase& c : cases)
        QTest::newRow(qPrintable(c.what)) << c;
    if (cases.isEmpty())
        QTest::newRow("no clips were made") << PictureCase{};
}

QByteArray bmpPixels(const QByteArray& file)
{
    if (file.size() < 54 || !file.startsWith("BM"))
        return {};
    const auto u32 = [&](int at) {
        return quint32(uchar(file[at])) | quint32(uchar(file[at + 1])) << 8 |
               quint32(uchar(file[at + 2])) << 16 | quint32(uchar(file[at + 3])) << 24;
    };
    if ((u32(28) & 0xffff) != 24 || u32(10) > quint32(file.size()))
        return {};
    return file.mid(int(u32(10)));
}

} // namespace corpus
