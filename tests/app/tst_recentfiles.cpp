// File > Recent Files in the main window: copies of odd.avi (10 frames of 33x17) opened one
// after another, the list kept across starts, most recent first and at most eight long;
// files that are gone shown greyed, and taken off the list with a message when chosen.

#include "corpus.h"
#include "fakedesktop.h"
#include "frmmain.h"
#include "frmvideo.h"
#include "recentfiles.h"
#include "recentfilesmenu.h"
#include "settings.h"
#include "sharedstate.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QTest>

using namespace framix;

class RecentFilesTest : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    std::optional<FakeDesktop> m_desktop;
    std::unique_ptr<frmmain> m_main;

    void start()
    {
        m_main = std::make_unique<frmmain>();
        m_main->setEndProgram([] {});
        m_main->Form_Load();
        m_main->show();
    }
    QString clip(const QString& name) const { return m_dir.filePath("clips/" + name); }
    void open(const QString& name)
    {
        m_main->media().openPath(clip(name));
        QTRY_COMPARE(m_main->videoWindow()->MCIWnd1->fileName(), clip(name));
    }
    RecentFilesMenu* menu() const { return m_main->findChild<RecentFilesMenu*>(); }
    // The menu's entries as the File menu shows them when it opens.
    QList<QAction*> entries() const
    {
        emit menu()->aboutToShow();
        return menu()->actions();
    }
    QStringList texts() const
    {
        QStringList out;
        for (QAction* a : entries())
            out << a->text();
        return out;
    }
    // The darkest grey level in an entry's row of the drawn menu.
    int darkest(const QImage& drawn, QAction* entry) const
    {
        const QRect r = menu()->actionGeometry(entry);
        int level = 255;
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                level = qMin(level, qGray(drawn.pixel(x, y)));
        return level;
    }

private slots:
    void initTestCase()
    {
        Settings::setConfigDirForTesting(m_dir.filePath("config"));
        QDir().mkpath(m_dir.filePath("clips"));
        for (const char* name : {"r1.avi", "r2.avi", "r3.avi", "r4.avi", "r5.avi", "r6.avi",
                                 "r7.avi", "r8.avi", "r9.avi", "a&b.avi"})
            QVERIFY(QFile::copy(corpus::path("odd.avi"), clip(name)));
    }
    void init()
    {
        shared() = SharedState{};
        Settings::setRecentFiles({});
        m_desktop.emplace();
        start();
    }
    void cleanup()
    {
        m_main.reset();
        m_desktop.reset();
    }

    // The submenu sits before Exit; it offers nothing until a file was opened, then the
    // last eight, newest first, each by its name with its path as tip; opening one again
    // brings it to the top; the list is there at the next start.
    void orderAndLimit()
    {
        const QList<QAction*> file = m_main->menuBar()->actions().first()->menu()->actions();
        QCOMPARE(file.last()->text(), "E&xit");
        QVERIFY(file.value(file.size() - 3)->menu() == menu() &&
                file.value(file.size() - 2)->isSeparator());
        QCOMPARE(menu()->title(), "Recent &Files");
        QCOMPARE(texts(), QStringList{"(No recent files)"});
        QVERIFY(!entries().first()->isEnabled());

        for (int i = 1; i <= 9; ++i)
            open(QString("r%1.avi").arg(i));
        QCOMPARE(texts(), QStringList({"&1 r9.avi", "&2 r8.avi", "&3 r7.avi", "&4 r6.avi",
                                       "&5 r5.avi", "&6 r4.avi", "&7 r3.avi", "&8 r2.avi"}));
        QCOMPARE(entries().first()->toolTip(), clip("r9.avi"));
        QCOMPARE(entries().first()->statusTip(), clip("r9.avi"));
        open("r5.avi");
        open("a&b.avi");
        QCOMPARE(texts(), QStringList({"&1 a&&b.avi", "&2 r5.avi", "&3 r9.avi", "&4 r8.avi",
                                       "&5 r7.avi", "&6 r6.avi", "&7 r4.avi", "&8 r3.avi"}));
        // A file that could not be opened is not listed.
        m_main->media().openPath(corpus::path("text.mpg"));
        QCOMPARE(texts().first(), "&1 a&&b.avi");

        m_main.reset();
        start();
        QCOMPARE(texts().size(), 8);
        QCOMPARE(entries().value(1)->toolTip(), clip("r5.avi"));
        // Chosen from the menu, a file is opened and comes first.
        entries().value(3)->trigger();
        QTRY_COMPARE(m_main->videoWindow()->MCIWnd1->fileName(), clip("r8.avi"));
        QCOMPARE(texts().first(), "&1 r8.avi");
        QCOMPARE(Settings::recentFiles().size(), Settings::kRecentFiles);
    }

    // A file that is gone is shown greyed and in italics but can still be chosen: that says
    // it was not found and takes it off the list, and the open file stays open.
    void missingFile()
    {
        for (const char* name : {"r1.avi", "r2.avi", "r3.avi"})
            open(name);
        QVERIFY(QFile::rename(clip("r2.avi"), clip("r2.moved")));
        // Opening the menu builds its entries anew, so they are taken once it is open.
        menu()->popup(QPoint(0, 0));
        QTRY_VERIFY(menu()->isVisible());
        const QList<QAction*> shown = menu()->actions();
        QCOMPARE(shown.size(), 3);
        QAction* gone = shown.at(1);
        QVERIFY(gone->isEnabled() && gone->font().italic() && !shown.at(0)->font().italic());
        QCOMPARE(gone->toolTip(), clip("r2.avi") + " (not found)");
        const QImage drawn = menu()->grab().toImage();
        menu()->hide();
        const int present = darkest(drawn, shown.at(0)), missing = darkest(drawn, gone);
        QVERIFY2(present < 80 && missing > present + 60,
                 qPrintable(QString("present %1, missing %2").arg(present).arg(missing)));

        gone->trigger();
        QCOMPARE(m_desktop->messages,
                 QStringList{clip("r2.avi") +
                             " was not found. It has been removed from the recent files."});
        QCOMPARE(m_main->videoWindow()->MCIWnd1->fileName(), clip("r3.avi"));
        QCOMPARE(texts(), QStringList({"&1 r3.avi", "&2 r1.avi"}));
        QVERIFY(QFile::rename(clip("r2.moved"), clip("r2.avi")));
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    RecentFilesTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_recentfiles.moc"
