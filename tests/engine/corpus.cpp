#include "corpus.h"

#include <QFile>
#include <QHash>

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
            QStringLiteral("wmv2.wmv"),  QStringLiteral("h264.mp4"),  QStringLiteral("vfr.mkv")};
}

QVector<OracleFrame> oracle(const QString& clip)
{
    static QHash<QString, QVector<OracleFrame>> loaded;
    auto it = loaded.find(clip);
    if (it != loaded.end())
        return *it;
    QVector<OracleFrame> frames;
    QFile f(path(clip) + QStringLiteral(".framemd5"));
    if (f.open(QIODevice::ReadOnly)) {
        while (!f.atEnd()) {
            const QByteArray line = f.readLine().trimmed();
            if (line.isEmpty() || line.startsWith('#'))
                continue;
            const QList<QByteArray> cols = line.split(',');
            if (cols.size() < 6)
                continue;
            frames.push_back({cols[4].trimmed().toInt(), cols[5].trimmed()});
        }
    }
    loaded.insert(clip, frames);
    return frames;
}

} // namespace corpus
