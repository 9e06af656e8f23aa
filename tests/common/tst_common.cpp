#include "desktop.h"
#include "mcommon.h"
#include "settings.h"
#include "testrunner.h"
#include "twips.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <clocale>
#include <functional>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace framix;

namespace {

// Answers dialogs from a script and records what was asked, so no window ever appears.
class FakeDesktop : public Desktop
{
public:
    struct DialogCall
    {
        FileRequest request;
        bool ownerEnabled = false;
    };
    struct Answer
    {
        bool ok = false;
        QString path;
    };
    struct Message
    {
        QString text;
        QString title;
        Icon icon = Icon::Information;
    };

    FakeDesktop() { Desktop::setInstance(this); }
    ~FakeDesktop() override { Desktop::setInstance(nullptr); }

    bool fileDialog(const FileRequest& request, QString* path) override
    {
        dialogCalls.append({request, request.owner == nullptr || request.owner->isEnabled()});
        const Answer a = answers.isEmpty() ? Answer{} : answers.takeFirst();
        if (a.ok)
            *path = a.path;
        return a.ok;
    }
    void message(QWidget*, const QString& text, const QString& title, Icon icon) override
    {
        messages.append({text, title, icon});
    }
    // Scripted ticks first; after that the clock moves a full second per reading, so an
    // unscripted dialog always counts as shown.
    quint32 tickCount() override
    {
        m_clock = ticks.isEmpty() ? m_clock + 1000 : ticks.takeFirst();
        return m_clock;
    }

    QList<DialogCall> dialogCalls;
    QList<Answer> answers;
    QList<quint32> ticks;
    QList<Message> messages;

private:
    quint32 m_clock = 0;
};

const QString kMpegFilter =
    QStringLiteral("Moving Picture Experts Group (MPEG)|*.mpg;*.mpeg;*.m1v;*.mp2;*.mpa;*.mpe;"
                   "*.mpv2|Windows Video Files|*.avi;*.wmv|All Files (*.*)|*.*|");

// Plays a list of steps against whichever modal widget is on top, one step at a time, so a
// test can drive the real dialogs. A step returns false while its widget is not up yet.
// Anything still open after five seconds is rejected so that a fault cannot hang the run.
class ModalScript
{
public:
    using Step = std::function<bool(QWidget*)>;

    explicit ModalScript(std::vector<Step> steps) : m_steps(std::move(steps))
    {
        m_elapsed.start();
        QObject::connect(&m_timer, &QTimer::timeout, [this] { poll(); });
        m_timer.start(20);
    }
    bool finished() const { return m_next == m_steps.size() && !m_timedOut; }

private:
    void poll()
    {
        QWidget* top = QApplication::activeModalWidget();
        if (m_elapsed.elapsed() > 5000) {
            m_timedOut = true;
            if (auto* dialog = qobject_cast<QDialog*>(top))
                dialog->reject();
            return;
        }
        if (top != nullptr && m_next < m_steps.size() && m_steps[m_next](top))
            ++m_next;
    }

    std::vector<Step> m_steps;
    std::size_t m_next = 0;
    bool m_timedOut = false;
    QTimer m_timer;
    QElapsedTimer m_elapsed;
};

// The real dialogs are driven through queued calls so each action runs from the dialog's own
// event loop rather than from inside the script's timer.
ModalScript::Step acceptFileDialog()
{
    return [](QWidget* w) {
        auto* dialog = qobject_cast<QFileDialog*>(w);
        if (dialog != nullptr)
            QMetaObject::invokeMethod(dialog, &QDialog::accept, Qt::QueuedConnection);
        return dialog != nullptr;
    };
}

ModalScript::Step answerBox(QMessageBox::StandardButton button, QString* text)
{
    return [button, text](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (box == nullptr)
            return false;
        *text = box->text();
        QMetaObject::invokeMethod(box->button(button), &QAbstractButton::click,
                                  Qt::QueuedConnection);
        return true;
    };
}

QString readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

class FileDialogTest : public QObject
{
    Q_OBJECT
private slots:
    void nameLengthLimit()
    {
        FakeDesktop fake;
        QWidget owner;
        owner.setEnabled(false);
        QCOMPARE(FileDialog(&owner, false, "Open", kMpegFilter, QString(261, 'n'), "", ""),
                 QString());
        QVERIFY(fake.dialogCalls.isEmpty());
        QVERIFY(!owner.isEnabled());
        QCOMPARE(fake.messages.size(), 1);
        QCOMPARE(fake.messages[0].text, "Filename Length Overflow");
        QCOMPARE(fake.messages[0].title, "Framix - FileDialog Function");
        QVERIFY(fake.messages[0].icon == Desktop::Icon::Exclamation);

        fake.answers = {{true, "/clips/a.mpg"}};
        QCOMPARE(FileDialog(&owner, false, "Open", kMpegFilter, QString(260, 'n'), "", ""),
                 "/clips/a.mpg");
        QCOMPARE(fake.dialogCalls.size(), 1);
        QCOMPARE(fake.messages.size(), 1);
    }

    void requestAndOwner()
    {
        FakeDesktop fake;
        QWidget owner;
        fake.answers = {{true, "/shots/frame.bmp"}};
        QCOMPARE(FileDialog(&owner, true, "Save Frame", "Bitmap Files (*.bmp)|*.bmp|", "frame.bmp",
                            "bmp", "/shots"),
                 "/shots/frame.bmp");
        QCOMPARE(fake.dialogCalls.size(), 1);
        const FakeDesktop::DialogCall& call = fake.dialogCalls[0];
        QVERIFY(!call.ownerEnabled);
        QVERIFY(owner.isEnabled());
        QCOMPARE(call.request.owner, &owner);
        QVERIFY(call.request.saveMode);
        QCOMPARE(call.request.title, "Save Frame");
        QCOMPARE(call.request.nameFilters, QStringList{"Bitmap Files (*.bmp)"});
        QCOMPARE(call.request.initialName, "frame.bmp");
        QCOMPARE(call.request.defaultExt, "bmp");
        QCOMPARE(call.request.initialDir, "/shots");
    }

    void quickReturnRetries_data()
    {
        QTest::addColumn<QList<quint32>>("ticks");
        QTest::addColumn<bool>("firstOk");
        QTest::addColumn<bool>("retried");
        QTest::newRow("19 ms") << QList<quint32>{1000, 1019} << true << true;
        QTest::newRow("20 ms") << QList<quint32>{1000, 1020} << true << false;
        QTest::newRow("wrap, 32 ms") << QList<quint32>{0xFFFFFFF0, 0x10} << true << false;
        QTest::newRow("wrap, 11 ms") << QList<quint32>{0xFFFFFFFA, 0x5} << true << true;
        QTest::newRow("cancelled fast") << QList<quint32>{7, 8} << false << true;
        // Ticks stay close after the second call too: there is still only one retry.
        QTest::newRow("retry once") << QList<quint32>{1, 2, 3, 4, 5, 6} << false << true;
    }
    void quickReturnRetries()
    {
        QFETCH(QList<quint32>, ticks);
        QFETCH(bool, firstOk);
        QFETCH(bool, retried);
        FakeDesktop fake;
        fake.ticks = ticks;
        fake.answers = {{firstOk, "/clips/first.mpg"}, {false, "/clips/unused.mpg"}};
        QWidget owner;
        const QString result =
            FileDialog(&owner, false, "Open", kMpegFilter, "a.mpg", "mpg", "/clips");
        QCOMPARE(fake.dialogCalls.size(), retried ? 2 : 1);
        QCOMPARE(result, retried || !firstOk ? QString() : QStringLiteral("/clips/first.mpg"));
        if (retried) {
            const Desktop::FileRequest& second = fake.dialogCalls[1].request;
            QCOMPARE(second.initialName, QString());
            QCOMPARE(second.title, "Open");
            QCOMPARE(second.initialDir, "/clips");
            QCOMPARE(second.defaultExt, "mpg");
            QCOMPARE(second.nameFilters, fake.dialogCalls[0].request.nameFilters);
            QVERIFY(!fake.dialogCalls[1].ownerEnabled);
        }
        QVERIFY(owner.isEnabled());
    }

    void answers()
    {
        FakeDesktop fake;
        fake.answers = {{false, "/clips/ignored.mpg"}};
        QCOMPARE(FileDialog(nullptr, false, "Open", kMpegFilter, "", "", ""), QString());
        fake.answers = {{true, QStringLiteral("/clips/a.mpg") + QChar(u'\0') + "junk"}};
        QCOMPARE(FileDialog(nullptr, false, "Open", kMpegFilter, "", "", ""), "/clips/a.mpg");
    }

    void nameFilters_data()
    {
        QTest::addColumn<QString>("bar");
        QTest::addColumn<QStringList>("qt");
        QTest::newRow("video") << kMpegFilter
                               << QStringList{"Moving Picture Experts Group (MPEG) (*.mpg *.mpeg "
                                              "*.m1v *.mp2 *.mpa *.mpe *.mpv2)",
                                              "Windows Video Files (*.avi *.wmv)", "All Files (*)"};
        QTest::newRow("bitmap") << "Bitmap Files (*.bmp)|*.bmp|"
                                << QStringList{"Bitmap Files (*.bmp)"};
        QTest::newRow("empty") << "" << QStringList{};
    }
    void nameFilters()
    {
        QFETCH(QString, bar);
        QFETCH(QStringList, qt);
        QCOMPARE(qtNameFilters(bar), qt);
    }
};

class RealDialogTest : public QObject
{
    Q_OBJECT
private slots:
    // Opening a name that does not exist asks first; No leaves the dialog up for another try
    // (here it is then cancelled). An existing file is taken without a question.
    void openOrCreate_data()
    {
        QTest::addColumn<bool>("exists");
        QTest::addColumn<int>("answer");
        QTest::newRow("missing, yes") << false << int(QMessageBox::Yes);
        QTest::newRow("missing, no") << false << int(QMessageBox::No);
        QTest::newRow("existing") << true << int(QMessageBox::NoButton);
    }
    void openOrCreate()
    {
        QFETCH(bool, exists);
        QFETCH(int, answer);
        QTemporaryDir dir;
        const QString name = dir.filePath("clip.mpg");
        if (exists)
            QFile(name).open(QIODevice::WriteOnly);
        Desktop::FileRequest request;
        request.initialDir = dir.path();
        request.initialName = "clip.mpg";
        QString question;
        bool reopened = false;
        std::vector<ModalScript::Step> steps{acceptFileDialog()};
        if (answer != QMessageBox::NoButton)
            steps.push_back(answerBox(QMessageBox::StandardButton(answer), &question));
        if (answer == QMessageBox::No) {
            steps.push_back([&reopened](QWidget* w) {
                auto* dialog = qobject_cast<QFileDialog*>(w);
                reopened = dialog != nullptr;
                if (reopened)
                    QMetaObject::invokeMethod(dialog, &QDialog::reject, Qt::QueuedConnection);
                return reopened;
            });
        }
        ModalScript script(std::move(steps));
        Desktop real;
        QString path;
        const bool ok = real.fileDialog(request, &path);
        QVERIFY(script.finished());
        QCOMPARE(ok, answer != QMessageBox::No);
        QCOMPARE(reopened, answer == QMessageBox::No);
        if (ok)
            QCOMPARE(path, name);
        QCOMPARE(question, exists ? QString()
                                  : QStringLiteral("clip.mpg\nThis file does not exist.\n"
                                                   "Create the file?"));
        QCOMPARE(QFile::exists(name), exists);
    }
};

class PathTest : public QObject
{
    Q_OBJECT
private slots:
    void splitting_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("withSlash");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("name");
        QTest::newRow("empty") << ""
                               << ""
                               << ""
                               << "";
        QTest::newRow("root") << "/"
                              << "/"
                              << "/"
                              << "";
        QTest::newRow("file") << "/clips/a.mpg"
                              << "/clips/a.mpg/"
                              << "/clips/"
                              << "a.mpg";
        QTest::newRow("folder") << "/clips/"
                                << "/clips/"
                                << "/clips/"
                                << "";
        QTest::newRow("bare") << "a.mpg"
                              << "a.mpg/"
                              << ""
                              << "a.mpg";
    }
    void splitting()
    {
        QFETCH(QString, path);
        QFETCH(QString, withSlash);
        QFETCH(QString, folder);
        QFETCH(QString, name);
        QString copy = path;
        AddBackslash(copy);
        QCOMPARE(copy, withSlash);
        QCOMPARE(SplitPath(path, true), folder);
        QCOMPARE(SplitPath(path, false), name);
    }

    void homeIsExpanded()
    {
        QCOMPARE(ExpandHome(QStringLiteral("~/frames")),
                 QDir::homePath() + QStringLiteral("/frames"));
        QCOMPARE(ExpandHome(QStringLiteral("~")), QDir::homePath());
        QCOMPARE(ExpandHome(QStringLiteral("/a/~/b")), QStringLiteral("/a/~/b"));
        QCOMPARE(ExpandHome(QStringLiteral("~user/b")), QStringLiteral("~user/b"));
    }

    void existence()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath("a.mpg");
        QFile(file).open(QIODevice::WriteOnly);
        QVERIFY(!FileExists(""));
        QVERIFY(!DirExists(""));
        QVERIFY(DirExists(dir.path()));
        QVERIFY(DirExists(dir.path() + "/"));
        QVERIFY(!FileExists(dir.path()));
        QVERIFY(FileExists(file));
        QVERIFY(!DirExists(file));
        QVERIFY(!FileExists(dir.filePath("missing")));
        QVERIFY(!DirExists(dir.filePath("missing")));
    }

    void createsMissingLevels()
    {
        QTemporaryDir dir;
        FakeDesktop fake;
        QVERIFY(CreatePath(dir.path()));
        QVERIFY(CreatePath(dir.filePath("a/b/c")));
        QVERIFY(DirExists(dir.filePath("a/b/c")));
        // Relative to the current directory.
        const QString before = QDir::currentPath();
        QDir::setCurrent(dir.path());
        const bool relative = CreatePath("rel/x");
        QDir::setCurrent(before);
        QVERIFY(relative);
        QVERIFY(DirExists(dir.filePath("rel/x")));
        QVERIFY(fake.messages.isEmpty());
    }

    void failures_data()
    {
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("blocker"); // a file standing where a level should go
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("kept"); // made before the failing level; "" for none
        QTest::newRow("file in the way") << "Error 17: File exists\r\n"
                                         << "a/blocker"
                                         << "a/blocker/c"
                                         << "";
        QTest::newRow("name too long") << "Error 36: File name too long\r\n"
                                       << ""
                                       << "made/" + QString(300, 'n') + "/leaf"
                                       << "made";
    }
    void failures()
    {
        QFETCH(QString, error);
        QFETCH(QString, blocker);
        QFETCH(QString, path);
        QFETCH(QString, kept);
        QTemporaryDir dir;
        if (!blocker.isEmpty()) {
            QDir(dir.path()).mkpath(SplitPath(blocker, true));
            QFile(dir.filePath(blocker)).open(QIODevice::WriteOnly);
        }
        FakeDesktop fake;
        QVERIFY(!CreatePath(dir.filePath(path)));
        QCOMPARE(fake.messages.size(), 1);
        QCOMPARE(fake.messages[0].text, error + "Could Not Create/Access Directory:\r\n\r\n\"" +
                                            dir.filePath(path) + "/\"");
        QCOMPARE(fake.messages[0].title, "Framix - CreatePath Function");
        QVERIFY(fake.messages[0].icon == Desktop::Icon::Exclamation);
        if (!kept.isEmpty())
            QVERIFY(DirExists(dir.filePath(kept)));
    }

    void permissionRefused()
    {
        if (geteuid() == 0)
            QSKIP("root is not bound by directory permissions");
        QTemporaryDir dir;
        FakeDesktop fake;
        const QString readOnly = dir.filePath("ro");
        QVERIFY(QDir().mkdir(readOnly));
        QVERIFY(::chmod(QFile::encodeName(readOnly).constData(), 0555) == 0);
        const bool created = CreatePath(readOnly + "/x");
        // A level made without write permission for its owner: the next one is refused.
        const mode_t oldMask = ::umask(0277);
        const bool createdBelowNew = CreatePath(dir.filePath("made/x/y"));
        ::umask(oldMask);
        ::chmod(QFile::encodeName(readOnly).constData(), 0755);
        ::chmod(QFile::encodeName(dir.filePath("made")).constData(), 0755);

        QVERIFY(!created);
        QVERIFY(!createdBelowNew);
        QVERIFY(DirExists(dir.filePath("made")));
        QCOMPARE(fake.messages.size(), 2);
        const QString refused =
            "Error 13: Permission denied\r\nCould Not Create/Access Directory:\r\n\r\n\"";
        QCOMPARE(fake.messages[0].text, refused + readOnly + "/x/\"");
        QCOMPARE(fake.messages[1].text, refused + dir.filePath("made/x/y") + "/\"");
    }

    void emptyPathHasNoErrorNumber()
    {
        FakeDesktop fake;
        QVERIFY(!CreatePath(""));
        QCOMPARE(fake.messages.size(), 1);
        QCOMPARE(fake.messages[0].text, "Could Not Create/Access Directory:\r\n\r\n\"\"");
    }
};

class TwipsTest : public QObject
{
    Q_OBJECT
private slots:
    void rounding()
    {
        const double perPixel = twips::perPixel();
        QVERIFY(perPixel > 0);
        QCOMPARE(twips::toPixels(perPixel * 10.4), 10);
        QCOMPARE(twips::toPixels(perPixel * 10.6), 11);
        QCOMPARE(twips::toPixels(perPixel * -10.6), -11);
        QCOMPARE(twips::toPixels(twips::fromPixels(-7)), -7);
    }
};

class SettingsTest : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        Settings::setConfigDirForTesting(m_dir->path());
    }

    void emptyStoreGivesDefaults()
    {
        const Settings::Placement p = Settings::videoPlacement();
        QCOMPARE(p.left, 1000.0);
        QCOMPARE(p.top, 1000.0);
        QCOMPARE(p.width, 6500.0);
        QCOMPARE(p.height, 6500.0);
        QVERIFY(!Settings::volume().has_value());
        QCOMPARE(Settings::showTipsAtStartup(), 1);
    }

    void roundTrip()
    {
        Settings::setVideoPlacement({1500, 0.1, 7000.5, 300});
        Settings::setVolume(-250);
        Settings::setShowTipsAtStartup(0);
        const Settings::Placement p = Settings::videoPlacement();
        QCOMPARE(p.left, 1500.0);
        QCOMPARE(p.top, double(0.1f)); // kept at single precision
        QCOMPARE(p.width, 7000.5);
        QCOMPARE(p.height, 300.0);
        QCOMPARE(Settings::volume(), std::optional<int>(-250));
        QCOMPARE(Settings::showTipsAtStartup(), 0);

        const QString title = readAll(m_dir->filePath("Framix/Framix.ini"));
        const QString options =
            readAll(m_dir->filePath("Framix/" + Settings::optionsApplicationName() + ".ini"));
        QCOMPARE(Settings::optionsApplicationName(), "tst_common");
        for (const char* line : {"[Settings]", "Left=1500\n", "Top=0.1\n", "Width=7000.5\n",
                                 "Height=300\n", "volume=-250\n"})
            QVERIFY2(title.contains(line), line);
        QVERIFY(!title.contains("Tips"));
        QVERIFY(options.contains("[Options]\nShow%20Tips%20at%20Startup=0\n"));
    }

    void unreadableValuesFallBack()
    {
        QVERIFY(QDir(m_dir->path()).mkpath("Framix"));
        QFile title(m_dir->filePath("Framix/Framix.ini"));
        QVERIFY(title.open(QIODevice::WriteOnly));
        title.write("[Settings]\nLeft=1200\nTop=high\nWidth=nan\nHeight=\nvolume=loud\n");
        title.close();
        QFile options(m_dir->filePath("Framix/tst_common.ini"));
        QVERIFY(options.open(QIODevice::WriteOnly));
        options.write("[Options]\nShow%20Tips%20at%20Startup=yes\n");
        options.close();

        const Settings::Placement p = Settings::videoPlacement();
        QCOMPARE(p.left, 1200.0);
        QCOMPARE(p.top, 1000.0);
        QCOMPARE(p.width, 6500.0);
        QCOMPARE(p.height, 6500.0);
        QVERIFY(!Settings::volume().has_value());
        QCOMPARE(Settings::showTipsAtStartup(), 1);
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    // The system's error texts are compared word for word.
    std::setlocale(LC_MESSAGES, "C");
    FileDialogTest fileDialog;
    RealDialogTest realDialog;
    PathTest paths;
    TwipsTest twipsTest;
    SettingsTest settings;
    return runTestClasses(argc, argv, {&fileDialog, &realDialog, &paths, &twipsTest, &settings});
}

#include "tst_common.moc"
