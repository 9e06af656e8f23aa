// The main window's shell commands with real media: the media information window opened
// from the menu and the button, Tip of the Day and About from the Help menu, the side
// panel toggle, the two links and Help Topics. What the desktop is asked to open is
// observed through the Desktop seam.

#include "corpus.h"
#include "desktop.h"
#include "frmabout.h"
#include "frminfo.h"
#include "frmmain.h"
#include "frmtip.h"
#include "frmvideo.h"
#include "settings.h"
#include "sharedstate.h"
#include "shellcommands.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

#include <cmath>

using namespace framix;

namespace {

class RecordingDesktop : public Desktop
{
public:
    QList<QUrl> opened;
    QStringList messages; // title, icon and text of each
    bool openUrl(const QUrl& url) override
    {
        opened.append(url);
        return true;
    }
    void message(QWidget*, const QString& text, const QString& title, Icon icon) override
    {
        messages.append(QStringLiteral("%1|%2|%3").arg(title).arg(int(icon)).arg(text));
    }
};

// The visible top-level window of type W, or nullptr.
template <class W> W* shownWindow()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* window = qobject_cast<W*>(w); window != nullptr && window->isVisible())
            return window;
    return nullptr;
}

} // namespace

class ShellTest : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    RecordingDesktop m_desktop;
    std::unique_ptr<frmmain> m_main;

    const MainControls& c() const { return m_main->controls(); }
    PlayerComponent* player() const { return m_main->videoWindow()->MCIWnd1; }
    template <class T> T* find(const QString& text) const
    {
        for (T* t : m_main->findChildren<T*>())
            if (t->text() == text)
                return t;
        return nullptr;
    }

private slots:
    void initTestCase()
    {
        Settings::setConfigDirForTesting(m_dir.filePath(QStringLiteral("config")));
        Desktop::setInstance(&m_desktop);
        QVERIFY2(!QFile::exists(ShellCommands::helpFilePath()), "a help page beside the test");
    }
    void cleanupTestCase() { Desktop::setInstance(nullptr); }
    void init()
    {
        shared() = SharedState{};
        m_desktop.opened.clear();
        m_desktop.messages.clear();
        m_main = std::make_unique<frmmain>();
        m_main->setEndProgram([] {});
        m_main->Form_Load();
        m_main->show();
    }
    void cleanup() { m_main.reset(); }

    void infoShowsTheMediaOpenAtEachOpening()
    {
        const QString clip = corpus::path(QStringLiteral("mpeg4.avi"));
        m_main->media().openPath(clip);
        c().mnuinfo->trigger();
        QPointer<frminfo> info = shownWindow<frminfo>();
        QVERIFY(info != nullptr);
        QVERIFY(!m_main->isEnabled() && m_main->videoWindow()->isEnabled());
        QCOMPARE(info->txtfile->text(), QStringLiteral("mpeg4.avi"));
        const int frames = int(corpus::oracle(QStringLiteral("mpeg4.avi")).size());
        QCOMPARE(info->lbllength->text(), QStringLiteral("%1 Frames").arg(frames));
        // nearbyint rounds halves to even in the default rounding mode.
        const auto kb = qint64(std::nearbyint(double(QFileInfo(clip).size()) / 1024));
        QCOMPARE(info->lblsize->text(), QStringLiteral("%1 KB").arg(kb));
        QCOMPARE(info->lbltype->text(), player()->mediaType());
        QCOMPARE(info->lblpicture->text(), QStringLiteral("320 x 240 pixels"));
        QCOMPARE(info->lblrate->text(), QStringLiteral("25 frames/s"));
        QVERIFY(info->lblduration->text().startsWith(QStringLiteral("0:00:10.")));
        info->windowHandle()->close(); // the close box, not OK
        QVERIFY(m_main->isEnabled());
        QTRY_VERIFY(info == nullptr);

        // Sound only, from the button; then a file removed after it was opened.
        m_main->media().openPath(corpus::path(QStringLiteral("sound.mp2")));
        QTest::mouseClick(c().cmdinfo, Qt::LeftButton);
        info = shownWindow<frminfo>();
        QVERIFY(info != nullptr);
        QCOMPARE(info->txtfile->text(), QStringLiteral("sound.mp2"));
        QCOMPARE(info->lblpicture->text(), QStringLiteral("none"));
        QVERIFY(info->lblaudio->text() != QStringLiteral("none"));
        QTest::mouseClick(info->cmdok, Qt::LeftButton);
        QVERIFY(m_main->isEnabled());

        const QString copy = m_dir.filePath(QStringLiteral("vanishing.avi"));
        QVERIFY(QFile::copy(clip, copy));
        m_main->media().openPath(copy);
        QVERIFY(QFile::remove(copy));
        c().mnuinfo->trigger();
        info = shownWindow<frminfo>();
        QVERIFY(info != nullptr);
        QCOMPARE(info->txtfile->text(), QStringLiteral("vanishing.avi"));
        QCOMPARE(info->lbllength->text(), QStringLiteral("%1 Frames").arg(frames));
        QCOMPARE(info->lblsize->text(), QString());
        info->close();
    }

    void helpMenuWindows()
    {
        Settings::setShowTipsAtStartup(0);
        find<QAction>(QStringLiteral("Tip of The &Day"))->trigger();
        QCOMPARE(Settings::showTipsAtStartup(), 1);
        QPointer<frmTip> tip = shownWindow<frmTip>();
        QVERIFY(tip != nullptr && tip->chkLoadTipsAtStartup->isChecked());
        QVERIFY(!m_main->isEnabled() && !m_main->videoWindow()->isEnabled());
        tip->windowHandle()->close();
        QVERIFY(m_main->isEnabled() && m_main->videoWindow()->isEnabled());

        find<QAction>(QStringLiteral("&About Framix..."))->trigger();
        QPointer<frmAbout> about = shownWindow<frmAbout>();
        QVERIFY(about != nullptr && !m_main->isEnabled());
        about->windowHandle()->close();
        QVERIFY(m_main->isEnabled());
    }

    void sidePanelAndItsLinks()
    {
        QPushButton* toggle = find<QPushButton>(QStringLiteral(">"));
        QVERIFY(toggle != nullptr);
        QTest::mouseClick(toggle, Qt::LeftButton);
        QCOMPARE(m_main->widthTwips(), 10710.0);
        QCOMPARE(toggle->text(), QStringLiteral("<"));
        QTest::mouseClick(find<QLabel>(QStringLiteral("framix@example.org")), Qt::LeftButton);
        QTest::mouseClick(find<QLabel>(QStringLiteral("https://framix.example.org/")),
                          Qt::LeftButton);
        QCOMPARE(m_desktop.opened,
                 (QList<QUrl>{QUrl(QStringLiteral("mailto:framix@example.org")),
                              QUrl(QStringLiteral("https://framix.example.org/"))}));
        QTest::mouseClick(toggle, Qt::LeftButton);
        QCOMPARE(m_main->widthTwips(), 5700.0);
        QCOMPARE(toggle->text(), QStringLiteral(">"));
        QVERIFY(m_desktop.messages.isEmpty());
    }

    void helpTopicsOpensThePageBesideTheProgram()
    {
        QAction* topics = find<QAction>(QStringLiteral("&Help Topics"));
        topics->trigger();
        QVERIFY(m_desktop.opened.isEmpty());
        QCOMPARE(
            m_desktop.messages,
            QStringList{QStringLiteral("Framix|%1|Can not find help file, it may be renamed or "
                                       "damaged. Try reinstalling the program.")
                            .arg(int(Desktop::Icon::Critical))});

        const QString page = QCoreApplication::applicationDirPath() + QStringLiteral("/index.htm");
        QFile f(page);
        QVERIFY(f.open(QIODevice::WriteOnly));
        topics->trigger();
        f.remove();
        QCOMPARE(m_desktop.messages.size(), 1);
        QCOMPARE(m_desktop.opened, QList<QUrl>{QUrl::fromLocalFile(page)});
    }
};

QTEST_MAIN(ShellTest)
#include "tst_shell.moc"
