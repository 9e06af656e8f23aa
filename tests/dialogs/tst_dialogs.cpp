// The information window's file size, the Tip of the Day and About windows over a stand-in
// main window (the rows filled from media are tested with the real one).

#include "clickablelabel.h"
#include "fakedesktop.h"
#include "frmabout.h"
#include "frminfo.h"
#include "frmtip.h"
#include "settings.h"
#include "testrunner.h"
#include "twips.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>

using namespace framix;

class InfoTest : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    // Halves go to the even neighbour, also past 32 bits (a sparse file, using no disk).
    void sizeInKilobytes_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<qint64>("kb");
        const qint64 rows[] = {
            0, 0, 512, 0, 513, 1, 1535, 1, 1536, 2, 2560, 2, 3584, 4, (3LL << 30) + 1536, 3145730};
        for (int i = 0; i < 16; i += 2)
            QTest::addRow("%lld bytes", rows[i]) << rows[i] << rows[i + 1];
    }
    void sizeInKilobytes()
    {
        QFETCH(qint64, bytes);
        QFETCH(qint64, kb);
        QFile f(m_dir.filePath(QString::number(bytes)));
        if (!f.open(QIODevice::WriteOnly) || !f.resize(bytes))
            QSKIP("this file system cannot hold the file");
        QCOMPARE(frminfo::fileSize(f.fileName()).value_or(-1), bytes);
        QCOMPARE(frminfo::kilobytes(bytes), kb);
        f.remove();
        QVERIFY(!frminfo::fileSize(f.fileName()) && !frminfo::fileSize(m_dir.path()));
    }
};

class TipTest : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QWidget m_main, m_video;

    QString write(const QString& name, const QByteArray& data)
    {
        QFile f(name.startsWith('/') ? name : m_dir.filePath(name));
        return f.open(QIODevice::WriteOnly) && f.write(data) == data.size() ? f.fileName() : "";
    }

private slots:
    void initTestCase() { Settings::setConfigDirForTesting(m_dir.filePath("config")); }

    void splitsLines_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QStringList>("tips");
        const QStringList ab{"a", "b"}, aEmptyB{"a", "", "b"};
        QTest::newRow("CR LF") << QByteArray("a\r\nb\r\n") << ab;
        QTest::newRow("lone CR") << QByteArray("a\rb\r") << ab;
        QTest::newRow("lone LF") << QByteArray("a\nb\n") << ab;
        QTest::newRow("no final line end") << QByteArray("a\r\nb") << ab;
        QTest::newRow("empty line") << QByteArray("a\r\n\r\nb") << aEmptyB;
        QTest::newRow("CR CR LF") << QByteArray("a\r\r\nb") << aEmptyB;
        QTest::newRow("empty file") << QByteArray() << QStringList{};
        QTest::newRow("byte order mark")
            << QByteArray("\xEF\xBB\xBF") + "caf\xC3\xA9" << QStringList{"caf\u00E9"};
    }
    void splitsLines()
    {
        QFETCH(QByteArray, data);
        QFETCH(QStringList, tips);
        QCOMPARE(frmTip::splitTips(data), tips);
    }

    // Next Tip draws from the file, an empty line being a tip too (missing one of two tips
    // in 200 draws: p = 2^-199); only ordinary files that are not hidden are tip files.
    void tipsComeFromTheFile()
    {
        frmTip one(nullptr, nullptr), two(nullptr, nullptr), none(nullptr, nullptr);
        QVERIFY(one.LoadTips(write("one.txt", "Only tip\r\n")));
        QVERIFY(two.LoadTips(write("two.txt", "First\n\n")));
        QSet<QString> seen;
        for (int i = 0; i < 200; ++i, one.cmdNextTip->click(), two.cmdNextTip->click()) {
            QCOMPARE(one.lblTipText->text(), "Only tip");
            seen.insert(two.lblTipText->text());
        }
        QCOMPARE(seen, (QSet<QString>{"First", ""}));
        for (const QString& path :
             {QString(), m_dir.filePath("absent"), m_dir.path(), write(".hidden", "Hidden\n")})
            QVERIFY2(!none.LoadTips(path), qPrintable(path));
        QVERIFY(none.LoadTips(write("empty.txt", "")));
        none.cmdNextTip->click();
        QVERIFY(none.Tips().isEmpty() && none.lblTipText->text().isEmpty());
    }

    // Without a tip file beside the program the window says so. Each click on the box
    // stores the setting; with it off the window closes as it loads. Closing enables both
    // windows it disabled.
    void settingAndMissingFile()
    {
        QVERIFY2(!QFile::exists(frmTip::tipFilePath()), "a tip file was left beside the test");
        Settings::setShowTipsAtStartup(1);
        QPointer<frmTip> tip = frmTip::open(&m_main, &m_video);
        QVERIFY(tip && !m_main.isEnabled() && tip->chkLoadTipsAtStartup->isChecked());
        QCOMPARE(tip->lblTipText->text(), frmTip::kMissingFileText);
        const QPoint onTheBox(8, tip->chkLoadTipsAtStartup->height() / 2);
        for (int setting : {0, 1, 0}) {
            QTest::mouseClick(tip->chkLoadTipsAtStartup, Qt::LeftButton, {}, onTheBox);
            QCOMPARE(Settings::showTipsAtStartup(), setting);
        }
        m_video.setEnabled(false);
        QTest::mouseClick(tip->cmdOK, Qt::LeftButton);
        QVERIFY(m_main.isEnabled() && m_video.isEnabled());
        m_video.setEnabled(false);
        QCOMPARE(frmTip::open(&m_main, &m_video), nullptr);
        QVERIFY(m_main.isEnabled() && m_video.isEnabled());
    }
};

class AboutTest : public QObject
{
    Q_OBJECT
private slots:
    // The link scrolls left from the load on and, once wholly out, enters again at the
    // right edge. Clicked, it opens the home page and closes the window, also where no
    // browser opens it, and the owner is enabled again.
    void aboutWindow()
    {
        FakeDesktop desktop;
        desktop.urlsOpen = false;
        QWidget main;
        main.show();
        QPointer<frmAbout> about = frmAbout::open(&main);
        QTRY_VERIFY(about->Label3Left() < frmAbout::kLinkStart && !main.isEnabled());
        about->Timer1->stop(); // ticked by hand from here on
        while (about->Label3Left() > -about->Label3Width())
            about->Timer1_Timer();
        about->Timer1_Timer();
        QVERIFY(about->widthTwips() >= frmAbout::kInnerWidth);
        QCOMPARE(about->Label3->x(), twips::toPixels(about->widthTwips()));
        for (int i = 0; i < 30; ++i) // the link into full view
            about->Timer1_Timer();
        QTest::mouseClick(about->Label3, Qt::LeftButton);
        QCOMPARE(desktop.urls, QList<QUrl>{QUrl("https://framix.example.org/")});
        QVERIFY(main.isEnabled());
        QTRY_VERIFY(about == nullptr);
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    return runTestClasses(argc, argv, {new InfoTest, new TipTest, new AboutTest});
}

#include "tst_dialogs.moc"
