// The per-file index cache: reused when the file is unchanged, never trusted otherwise.

#include "corpus.h"
#include "videosource.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

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
        EngineError error;
        if (!source.open(m_media, &error, cachedOptions()))
            return false;
        *fromCache = source.stats().indexFromCache;
        if (frames)
            *frames = source.frameCount();
        // A frame late in the file proves the index is usable, not only loadable.
        const auto f = source.frame(source.frameCount() - 2, &error);
        return f && f->rawMd5() == corpus::oracle(QStringLiteral("mpeg2.mpg")).at(f->number()).md5;
    }

    // The cache holds indexes made by decoding; the scan of MPEG headers is not cached.
    VideoSource::Options cachedOptions() const
    {
        VideoSource::Options options;
        options.indexCacheDir = m_cacheDir;
        options.fastIndex = false;
        return options;
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

    // Rewritten in place with its size and time kept (a tag editor, a copy that keeps the
    // times): the cached index no longer fits where the file changed. The first request
    // that meets the change has the file indexed again, instead of failing on every run.
    void rewrittenWithSameSizeAndTime()
    {
        bool fromCache = true;
        QVERIFY(openOnce(&fromCache));
        const QDateTime modified = QFileInfo(m_media).lastModified();
        QFile f(m_media);
        QVERIFY(f.open(QIODevice::ReadWrite));
        const qint64 at = f.size() - 200 * 1024; // in the last GOP, outside the sampled bytes
        QVERIFY(f.seek(at));
        QByteArray bytes = f.read(64);
        for (char& c : bytes)
            c = char(c ^ 0x55);
        QVERIFY(f.seek(at));
        f.write(bytes);
        f.close();
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.setFileTime(modified, QFileDevice::FileModificationTime));
        f.close();

        VideoSource source, fresh;
        const VideoSource::Options options = cachedOptions();
        EngineError error;
        QVERIFY(source.open(m_media, &error, options));
        QVERIFY(source.stats().indexFromCache);
        VideoSource::Options uncached;
        uncached.useIndexCache = false;
        QVERIFY(fresh.open(m_media, &error, uncached));
        const int n = fresh.frameCount() - 2;
        const auto got = source.frame(n, &error);
        QVERIFY2(got, qPrintable(error.message()));
        QCOMPARE(source.stats().reindexed, 1);
        QCOMPARE(got->rawMd5(), fresh.frame(n)->rawMd5());
        // The index made again is what the next run finds.
        VideoSource next;
        QVERIFY(next.open(m_media, &error, options));
        QVERIFY(next.stats().indexFromCache);
        QVERIFY(next.frame(n));
        QCOMPARE(next.stats().reindexed, 0);
    }

    // A cache file that is a link to a device or a FIFO is not read (it would grow memory
    // without end, or block for ever): the file is indexed and the cache file replaced.
    void cacheFileThatIsNotAFile_data()
    {
        QTest::addColumn<bool>("fifo");
        QTest::newRow("link to /dev/zero") << false;
        QTest::newRow("FIFO") << true;
    }
    void cacheFileThatIsNotAFile()
    {
        QFETCH(bool, fifo);
        QDir().mkpath(m_cacheDir);
        QFile::remove(cacheFile());
        if (fifo)
            QCOMPARE(::mkfifo(QFile::encodeName(cacheFile()).constData(), 0600), 0);
        else
            QVERIFY(QFile::link(QStringLiteral("/dev/zero"), cacheFile()));
        bool fromCache = true;
        QVERIFY(openOnce(&fromCache));
        QVERIFY(!fromCache);
        QVERIFY(QFileInfo(cacheFile()).isFile() && !QFileInfo(cacheFile()).isSymLink());
        QVERIFY(openOnce(&fromCache));
        QVERIFY(fromCache);
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
            // A header-scanned index is only cached once decoding confirms it.
            options.fastIndex = false;
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
