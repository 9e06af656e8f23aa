// The media information window's file size: bytes to kilobytes with halves going to the
// even neighbour, sizes beyond 32 bits, and files that cannot be found. The rows filled
// from open media are tested with the main window (tests/app/tst_shell.cpp).

#include "frminfo.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace framix;

class InfoTest : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void sizeInKilobytes_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<qint64>("kb");
        for (auto [bytes, kb] : {std::pair<qint64, qint64>{0, 0},
                                 {512, 0},
                                 {513, 1},
                                 {1535, 1},
                                 {1536, 2},
                                 {2560, 2},
                                 {3584, 4}})
            QTest::addRow("%lld bytes", bytes) << bytes << kb;
        // Past 2 GiB: a sparse file, so no disk space is used.
        QTest::addRow("3 GiB + 1536") << (qint64(3) << 30) + 1536 << qint64(3 * 1024 * 1024 + 2);
    }
    void sizeInKilobytes()
    {
        QFETCH(qint64, bytes);
        QFETCH(qint64, kb);
        const QString path = m_dir.filePath(QStringLiteral("%1.bin").arg(bytes));
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || !f.resize(bytes))
            QSKIP("this file system cannot hold the file");
        QCOMPARE(frminfo::fileSize(path).value_or(-1), bytes);
        QCOMPARE(frminfo::kilobytes(bytes), kb);
        f.remove();
    }

    void noSizeWithoutAFile()
    {
        QVERIFY(!frminfo::fileSize(QString()).has_value());
        QVERIFY(!frminfo::fileSize(m_dir.filePath(QStringLiteral("gone.mpg"))).has_value());
        QVERIFY(!frminfo::fileSize(m_dir.path()).has_value());
    }
};

QObject* makeInfoTest()
{
    return new InfoTest;
}

#include "tst_info.moc"
