// The About window: the scrolling link and where it enters again, the link opening the
// home page, clicks elsewhere and the close box closing the window, and the main window
// enabled again.

#include "clickablelabel.h"
#include "desktop.h"
#include "frmabout.h"
#include "twips.h"

#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QWindow>

using namespace framix;

namespace {

class RecordingDesktop : public Desktop
{
public:
    QList<QUrl> opened;
    bool openUrl(const QUrl& url) override
    {
        opened.append(url);
        return false; // as on a desktop without a browser
    }
};

} // namespace

class AboutTest : public QObject
{
    Q_OBJECT
    RecordingDesktop m_desktop;
    QWidget m_main;

    QPointer<frmAbout> openAbout()
    {
        m_desktop.opened.clear();
        QPointer<frmAbout> about = frmAbout::open(&m_main);
        if (about != nullptr && (!QTest::qWaitForWindowExposed(about) || m_main.isEnabled()))
            return nullptr;
        return about;
    }

private slots:
    void initTestCase()
    {
        Desktop::setInstance(&m_desktop);
        m_main.show();
    }
    void cleanupTestCase() { Desktop::setInstance(nullptr); }

    void linkReentersAtTheRightEdge()
    {
        QPointer<frmAbout> about = openAbout();
        QVERIFY(about != nullptr);
        QCOMPARE(about->Timer1->interval(), 100);
        QTRY_VERIFY(about->Label3Left() < 5760); // the timer runs from the load
        about->Timer1->stop();                   // ticked by hand from here on
        while (about->Label3Left() > -2640)
            about->Timer1_Timer();
        QCOMPARE(about->Label3Left(), -2640.0);
        about->Timer1_Timer();
        QCOMPARE(about->Label3Left(), -about->Label3Width());
        QCOMPARE(about->Label3->x(), twips::toPixels(-2760));
        about->Timer1_Timer();
        QVERIFY(about->widthTwips() >= frmAbout::kInnerWidth);
        QCOMPARE(about->Label3Left(), about->widthTwips());
        QCOMPARE(about->Label3->x(), twips::toPixels(about->widthTwips()));
        about->close();
    }

    void linkOpensTheHomePageAndCloses()
    {
        QPointer<frmAbout> about = openAbout();
        QVERIFY(about != nullptr);
        about->Timer1->stop();
        for (int i = 0; i < 20; ++i) // into full view
            about->Timer1_Timer();
        QTest::mouseClick(about->Label3, Qt::LeftButton);
        QCOMPARE(m_desktop.opened,
                 QList<QUrl>{QUrl(QStringLiteral("https://framix.example.org/"))});
        QVERIFY(m_main.isEnabled());
        QTRY_VERIFY(about == nullptr);
    }

    void clickElsewhereOrCloseBoxCloses_data()
    {
        QTest::addColumn<QString>("target");
        for (const char* name : {"background", "Image1", "Label1", "lblDisclaimer", "close box"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }
    void clickElsewhereOrCloseBoxCloses()
    {
        QFETCH(QString, target);
        QPointer<frmAbout> about = openAbout();
        QVERIFY(about != nullptr);
        if (target == QLatin1String("close box"))
            about->windowHandle()->close();
        else if (target == QLatin1String("background"))
            QTest::mouseClick(about, Qt::LeftButton, {}, QPoint(4, 4));
        else
            QTest::mouseClick(target == QLatin1String("Image1")   ? about->Image1
                              : target == QLatin1String("Label1") ? about->Label1
                                                                  : about->lblDisclaimer,
                              Qt::LeftButton);
        QVERIFY(m_main.isEnabled());
        QVERIFY(m_desktop.opened.isEmpty());
        QTRY_VERIFY(about == nullptr);
    }
};

QObject* makeAboutTest()
{
    return new AboutTest;
}

#include "tst_about.moc"
