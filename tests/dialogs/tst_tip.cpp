// The Tip of the Day window: reading the tip file (line ends, empty lines), drawing tips at
// random, the missing-file message, the "Show Tips at Startup" setting, and enabling the
// windows it disabled when it closes by OK or by its close box.

#include "frmtip.h"
#include "settings.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

using namespace framix;

class TipTest : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QWidget m_main;
    QWidget m_video;

    QString write(const QString& path, const QByteArray& data)
    {
        QFile f(path);
        return f.open(QIODevice::WriteOnly) && f.write(data) == data.size() ? path : QString();
    }

private slots:
    void initTestCase()
    {
        Settings::setConfigDirForTesting(m_dir.filePath(QStringLiteral("config")));
        QVERIFY2(!QFile::exists(frmTip::tipFilePath()), "a tip file was left beside the test");
    }
    void init()
    {
        Settings::setShowTipsAtStartup(1);
        m_main.setEnabled(true);
        m_video.setEnabled(false); // as the Help menu leaves it
    }

    void splitsLines_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QStringList>("tips");
        const QStringList ab{QStringLiteral("a"), QStringLiteral("b")};
        const QStringList aEmptyB{QStringLiteral("a"), QString(), QStringLiteral("b")};
        QTest::newRow("CR LF") << QByteArray("a\r\nb\r\n") << ab;
        QTest::newRow("lone CR") << QByteArray("a\rb\r") << ab;
        QTest::newRow("lone LF") << QByteArray("a\nb\n") << ab;
        QTest::newRow("no final line end") << QByteArray("a\r\nb") << ab;
        QTest::newRow("empty line") << QByteArray("a\r\n\r\nb") << aEmptyB;
        QTest::newRow("CR CR LF") << QByteArray("a\r\r\nb") << aEmptyB;
        QTest::newRow("empty file") << QByteArray() << QStringList{};
        QTest::newRow("byte order mark") << QByteArray("\xEF\xBB\xBF"
                                                       "caf\xC3\xA9")
                                         << QStringList{QStringLiteral("caf\u00E9")};
    }
    void splitsLines()
    {
        QFETCH(QByteArray, data);
        QFETCH(QStringList, tips);
        QCOMPARE(frmTip::splitTips(data), tips);
    }

    void nextTipDrawsFromTheFile()
    {
        frmTip one(nullptr, nullptr);
        QVERIFY(one.LoadTips(write(m_dir.filePath(QStringLiteral("one.txt")), "Only tip\r\n")));
        for (int i = 0; i < 30; ++i) {
            QCOMPARE(one.lblTipText->text(), QStringLiteral("Only tip"));
            one.cmdNextTip->click();
        }
        // An empty line is a tip too. Missing one of two tips in 200 draws: p = 2^-199.
        frmTip two(nullptr, nullptr);
        QVERIFY(two.LoadTips(write(m_dir.filePath(QStringLiteral("two.txt")), "First\n\n")));
        QSet<QString> seen;
        for (int i = 0; i < 200; ++i, two.cmdNextTip->click())
            seen.insert(two.lblTipText->text());
        QCOMPARE(seen, (QSet<QString>{QStringLiteral("First"), QString()}));
    }

    void onlyOrdinaryFilesAreTipFiles()
    {
        frmTip tip(nullptr, nullptr);
        QVERIFY(!tip.LoadTips(QString()));
        QVERIFY(!tip.LoadTips(m_dir.filePath(QStringLiteral("absent.txt"))));
        QVERIFY(!tip.LoadTips(m_dir.path()));
        QVERIFY(!tip.LoadTips(write(m_dir.filePath(QStringLiteral(".hidden")), "Hidden\n")));
        QVERIFY(tip.LoadTips(write(m_dir.filePath(QStringLiteral("empty.txt")), "")));
        tip.cmdNextTip->click();
        QVERIFY(tip.Tips().isEmpty());
        QCOMPARE(tip.lblTipText->text(), QString());
    }

    void opensWithTheFileBesideTheProgramOrTheMessage()
    {
        QPointer<frmTip> tip = frmTip::open(&m_main, &m_video);
        QVERIFY(tip != nullptr && tip->isVisible() && m_main.isVisible());
        QVERIFY(!m_main.isEnabled());
        QVERIFY(tip->chkLoadTipsAtStartup->isChecked());
        QCOMPARE(tip->lblTipText->text(),
                 QStringLiteral("Could not find the file TIPOFDAY.txt. The file may be deleted or "
                                "removed. Try to reinstall the program..."));
        tip->cmdNextTip->click();
        QCOMPARE(tip->lblTipText->text(), frmTip::kMissingFileText);
        QVERIFY(QTest::qWaitForWindowExposed(tip));
        tip->windowHandle()->close(); // the close box
        QVERIFY(m_main.isEnabled() && m_video.isEnabled());
        QTRY_VERIFY(tip == nullptr); // unloaded: the next opening makes a new window

        QVERIFY(!write(frmTip::tipFilePath(), "Tip beside the program\r\n").isEmpty());
        tip = frmTip::open(&m_main, &m_video);
        QFile::remove(frmTip::tipFilePath());
        QVERIFY(tip != nullptr);
        QCOMPARE(tip->lblTipText->text(), QStringLiteral("Tip beside the program"));
        m_video.setEnabled(false);
        QTest::mouseClick(tip->cmdOK, Qt::LeftButton);
        QVERIFY(m_main.isEnabled() && m_video.isEnabled());
    }

    void checkBoxStoresTheSettingAndZeroClosesAtOnce()
    {
        QPointer<frmTip> tip = frmTip::open(&m_main, &m_video);
        QVERIFY(tip != nullptr);
        QCheckBox* box = tip->chkLoadTipsAtStartup;
        const QPoint onTheBox(8, box->height() / 2);
        QTest::mouseClick(box, Qt::LeftButton, {}, onTheBox);
        QCOMPARE(Settings::showTipsAtStartup(), 0);
        QTest::mouseClick(box, Qt::LeftButton, {}, onTheBox);
        QCOMPARE(Settings::showTipsAtStartup(), 1);
        QTest::mouseClick(box, Qt::LeftButton, {}, onTheBox);
        tip->close();

        m_video.setEnabled(false);
        QCOMPARE(frmTip::open(&m_main, &m_video), nullptr);
        QVERIFY(m_main.isEnabled() && m_video.isEnabled());
        QCOMPARE(Settings::showTipsAtStartup(), 0);
    }
};

QObject* makeTipTest()
{
    return new TipTest;
}

#include "tst_tip.moc"
