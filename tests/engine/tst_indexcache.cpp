// The per-file index cache: reused when the file is unchanged, never trusted otherwise.

#include "corpus.h"
#include "videosource.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace framix;

class IndexCacheTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_media;
    QString m_cacheDir;

    bool openOnce(bool* fromCache, int* frames = nullptr)
    {
        VideoSource source;
        VideoSource::Options options;
        options.indexCacheDir = m_cacheDir;
        EngineError error;
        if (!source.open(m_media, &error, options))
            return false;
        *fromCache = source.stats().indexFromCache;
        if (frames)
            *frames = source.frameCount();
        // A frame late in the file proves the index is usable, not only loadable.
        const auto f = source.frame(source.frameCount() - 2, &error);
        return f && f->rawMd5() == corpus::oracle(QStringLiteral("mpeg2.mpg")).at(f->number()).md5;
    }

    QString cacheFile() const { return VideoSource::indexCacheFile(m_media, m_cacheDir); }

private slots:
    void init()
    {
        QVERIFY(m_dir.isValid());
        m_media = m_dir.filePath(QStringLiteral("clip.mpg"));
        m_cacheDir = m_dir.filePath(QStringLiteral("cache"));
        QFile::remove(m_media);
        QVERIFY(QFile::copy(corpus::path(QStringLiteral("mpeg2.mpg")), m_media));
        QFile::remove(cacheFile());
    }

    void secondOpenUsesTheCache()
    {
        bool fromCache = true;
        int frames = 0;
        QVERIFY(openOnce(&fromCache, &frames));
        QVERIFY(!fromCache);
        QVERIFY(QFile::exists(cacheFile()));
        int again = 0;
        QVERIFY(openOnce(&fromCache, &again));
        QVERIFY(fromCache);
        QCOMPARE(again, frames);
    }

    void changedFileIsIndexedAgain()
    {
        bool fromCache = true;
        QVERIFY(openOnce(&fromCache));
        QFile f(m_media);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.setFileTime(QDateTime::currentDateTime().addSecs(-3600),
                              QFileDevice::FileModificationTime));
        f.close();
        QVERIFY(openOnce(&fromCache));
        QVERIFY2(!fromCache, "an index for another modification time was trusted");
    }

    void damagedCacheIsRebuilt_data()
    {
        QTest::addColumn<int>("damage");
        QTest::newRow("flipped byte") << 0;
        QTest::newRow("truncated") << 1;
        QTest::newRow("empty") << 2;
        QTest::newRow("another file's index") << 3;
    }
    void damagedCacheIsRebuilt()
    {
        QFETCH(int, damage);
        bool fromCache = true;
        QVERIFY(openOnce(&fromCache));
        QFile f(cacheFile());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QByteArray bytes = f.readAll();
        f.close();
        switch (damage) {
        case 0:
            bytes[bytes.size() / 2] = char(bytes[bytes.size() / 2] ^ 0x5a);
            break;
        case 1:
            bytes.truncate(bytes.size() / 3);
            break;
        case 2:
            bytes.clear();
            break;
        case 3: {
            // A well-formed index, checksum and all, made for a different file.
            const QString other = m_dir.filePath(QStringLiteral("other.avi"));
            QFile::remove(other);
            QVERIFY(QFile::copy(corpus::path(QStringLiteral("mpeg4.avi")), other));
            VideoSource source;
            VideoSource::Options options;
            options.indexCacheDir = m_cacheDir;
            QVERIFY(source.open(other, nullptr, options));
            QFile o(VideoSource::indexCacheFile(other, m_cacheDir));
            QVERIFY(o.open(QIODevice::ReadOnly));
            bytes = o.readAll();
            break;
        }
        }
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
        f.close();
        QVERIFY(openOnce(&fromCache));
        QVERIFY(!fromCache);
        QVERIFY(openOnce(&fromCache));
        QVERIFY2(fromCache, "the rebuilt index was not stored again");
    }
};

QObject* makeIndexCacheTest()
{
    return new IndexCacheTest;
}

#include "tst_indexcache.moc"
