// The file dialog function and the real dialog behind it, paths and folders, twips, and
// the settings store.

#include "fakedesktop.h"
#include "mcommon.h"
#include "settings.h"
#include "testrunner.h"
#include "twips.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <clocale>
#include <functional>
#include <unistd.h>

using namespace framix;

namespace {

const QString kVideo = "Moving Picture Experts Group (MPEG)|*.mpg;*.mpeg;*.m1v;*.mp2;*.mpa;*.mpe;"
                       "*.mpv2|Windows Video Files|*.avi;*.wmv|All Files (*.*)|*.*|";

// Hands each modal widget that comes up on top to `act`, from that widget's own event
// loop, while the returned timer lives; a dialog still up after five seconds is rejected,
// so that a fault cannot hang the run.
std::unique_ptr<QTimer> driveModals(std::function<void(QWidget*)> act)
{
    auto timer = std::make_unique<QTimer>();
    QObject::connect(timer.get(), &QTimer::timeout,
                     [act, last = QPointer<QWidget>(), ticks = 0]() mutable {
                         QWidget* top = QApplication::activeModalWidget();
                         if (auto* dialog = qobject_cast<QDialog*>(top); dialog && ++ticks > 250)
                             dialog->reject();
                         else if (top != nullptr && top != last)
                             QMetaObject::invokeMethod(
                                 last = top, [act, top] { act(top); }, Qt::QueuedConnection);
                     });
    timer->start(20);
    return timer;
}

} // namespace

class FileDialogTest : public QObject
{
    Q_OBJECT
private slots:
    // The request reaches the desktop whole, the owner is disabled while the dialog is up,
    // and the answer ends at a NUL. A name over 260 characters is refused with a message.
    void requestOwnerAndAnswer()
    {
        FakeDesktop fake;
        QWidget owner;
        fake.answers = {QString("/shots/frame.bmp") + QChar(u'\0') + "junk"};
        QCOMPARE(FileDialog(&owner, true, "Save", "Bitmap Files (*.bmp)|*.bmp|", "frame.bmp", "bmp",
                            "/shots"),
                 "/shots/frame.bmp");
        QVERIFY(fake.dialogs.size() == 1 && !fake.dialogs[0].ownerEnabled && owner.isEnabled());
        const Desktop::FileRequest& r = fake.dialogs[0].request;
        QVERIFY(r.owner == &owner && r.saveMode && r.title == "Save" && r.defaultExt == "bmp");
        QCOMPARE(r.nameFilters, QStringList{"Bitmap Files (*.bmp)"});
        QVERIFY(r.initialName == "frame.bmp" && r.initialDir == "/shots");

        fake.answers = {"/clips/a.mpg"};
        QCOMPARE(FileDialog(&owner, false, "Open", kVideo, QString(261, 'n'), "", ""), QString());
        QVERIFY(fake.dialogs.size() == 1 && fake.messages.size() == 1 && owner.isEnabled());
        QCOMPARE(fake.messages[0].text, "Filename Length Overflow");
        QCOMPARE(FileDialog(&owner, false, "Open", kVideo, QString(260, 'n'), "", ""),
                 "/clips/a.mpg");
    }

    // A dialog back within 20 ms never reached the screen: it is shown once more, without
    // the initial name. The tick counter wraps at 2^32.
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
        QTest::newRow("retried once") << QList<quint32>{1, 2, 3, 4, 5, 6} << false << true;
    }
    void quickReturnRetries()
    {
        QFETCH(QList<quint32>, ticks);
        QFETCH(bool, firstOk);
        QFETCH(bool, retried);
        FakeDesktop fake;
        fake.ticks = ticks;
        fake.answers = {firstOk ? "/clips/first.mpg" : ""};
        QWidget owner;
        const QString got = FileDialog(&owner, false, "Open", kVideo, "a.mpg", "mpg", "/clips");
        QCOMPARE(fake.dialogs.size(), retried ? 2 : 1);
        QCOMPARE(got, retried || !firstOk ? QString() : QString("/clips/first.mpg"));
        QVERIFY(owner.isEnabled());
        if (!retried)
            return;
        Desktop::FileRequest first = fake.dialogs[0].request, second = fake.dialogs[1].request;
        QVERIFY(second.initialName.isEmpty() && !fake.dialogs[1].ownerEnabled);
        QVERIFY(second.title == first.title && second.initialDir == first.initialDir &&
                second.defaultExt == first.defaultExt && second.nameFilters == first.nameFilters);
    }

    void nameFilters_data()
    {
        QTest::addColumn<QString>("bar");
        QTest::addColumn<QStringList>("qt");
        QTest::newRow("video") << kVideo
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

    // The real dialog, accepted with the name typed: Open asks before taking a file that
    // does not exist, and No leaves the dialog up for another try (here cancelled); Save
    // adds the default extension.
    void realDialog_data()
    {
        QTest::addColumn<bool>("save");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("answer"); // to the question; NoButton: none may come
        QTest::addColumn<QString>("chosen");
        QTest::newRow("missing, yes") << false << "new.mpg" << int(QMessageBox::Yes) << "new.mpg";
        QTest::newRow("missing, no") << false << "new.mpg" << int(QMessageBox::No) << "";
        QTest::newRow("existing") << false << "here.mpg" << int(QMessageBox::NoButton)
                                  << "here.mpg";
        QTest::newRow("save") << true << "typed" << int(QMessageBox::NoButton) << "typed.bmp";
    }
    void realDialog()
    {
        QFETCH(bool, save);
        QFETCH(QString, name);
        QFETCH(int, answer);
        QFETCH(QString, chosen);
        QTemporaryDir dir;
        QFile(dir.filePath("here.mpg")).open(QIODevice::WriteOnly);
        int shown = 0;
        QString question;
        const auto script = driveModals([&](QWidget* w) {
            if (auto* box = qobject_cast<QMessageBox*>(w)) {
                question = box->text();
                if (QAbstractButton* b = box->button(QMessageBox::StandardButton(answer)))
                    b->click();
                else
                    box->reject();
            } else if (auto* d = qobject_cast<QFileDialog*>(w)) {
                ++shown == 1 ? static_cast<QDialog*>(d)->accept() : d->reject();
            }
        });
        Desktop::FileRequest request{nullptr, save, "Frame", {}, name, "bmp", dir.path()};
        QString path;
        const bool ok = Desktop().fileDialog(request, &path);
        QCOMPARE(ok ? path : QString(), chosen.isEmpty() ? QString() : dir.filePath(chosen));
        QCOMPARE(shown, answer == QMessageBox::No ? 2 : 1);
        QCOMPARE(question.startsWith(name + "\nThis file does not exist."),
                 answer != QMessageBox::NoButton);
        QVERIFY(!QFile::exists(dir.filePath("new.mpg")));
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

    void homeAndExistence()
    {
        QCOMPARE(ExpandHome("~/frames"), QDir::homePath() + "/frames");
        QCOMPARE(ExpandHome("~"), QDir::homePath());
        QCOMPARE(ExpandHome("/a/~/b"), "/a/~/b");
        QCOMPARE(ExpandHome("~user/b"), "~user/b");
        QTemporaryDir dir;
        const QString file = dir.filePath("a.mpg");
        QFile(file).open(QIODevice::WriteOnly);
        QVERIFY(!FileExists("") && !DirExists("") && !FileExists(dir.path()) && !DirExists(file));
        QVERIFY(DirExists(dir.path()) && DirExists(dir.path() + "/") && FileExists(file));
        QVERIFY(!FileExists(dir.filePath("missing")) && !DirExists(dir.filePath("missing")));
    }

    // Folders are made level by level; a level that cannot be made is reported with the
    // system's error, and the levels made before it stay.
    void createPath_data()
    {
        QTest::addColumn<QString>("path");  // in a new folder; "" is the empty path
        QTest::addColumn<QString>("error"); // "" for none
        QTest::addColumn<bool>("made");
        QTest::newRow("levels") << "a/b/c"
                                << "" << true;
        QTest::newRow("relative") << "r/x"
                                  << "" << true;
        QTest::newRow("file in the way") << "file/c"
                                         << "Error 17: File exists\r\n"
                                         << false;
        QTest::newRow("name too long")
            << "a/" + QString(300, 'n') << "Error 36: File name too long\r\n"
            << false;
        QTest::newRow("read-only") << "ro/x"
                                   << "Error 13: Permission denied\r\n"
                                   << false;
        QTest::newRow("empty") << ""
                               << "" << false;
    }
    void createPath()
    {
        QFETCH(QString, path);
        QFETCH(QString, error);
        QFETCH(bool, made);
        if (path.startsWith("ro/") && geteuid() == 0)
            QSKIP("root is not bound by folder permissions");
        QTemporaryDir dir;
        QFile(dir.filePath("file")).open(QIODevice::WriteOnly);
        QDir(dir.path()).mkdir("ro");
        QFile::setPermissions(dir.filePath("ro"), QFile::ReadOwner | QFile::ExeOwner);
        const QString before = QDir::currentPath();
        QDir::setCurrent(dir.path());
        const QString full = path.isEmpty() || path.startsWith("r/") ? path : dir.filePath(path);
        FakeDesktop fake;
        const bool ok = CreatePath(full);
        const bool exists = DirExists(full);
        QDir::setCurrent(before);
        QVERIFY(ok == made && exists == made);
        QCOMPARE(DirExists(dir.filePath("a")), path.startsWith("a/"));
        QCOMPARE(fake.messages.size(), made ? 0 : 1);
        if (!made)
            QCOMPARE(fake.messages[0].text, error + "Could Not Create/Access Directory:\r\n\r\n\"" +
                                                (full.isEmpty() ? "" : full + "/") + "\"");
    }

    void twipsRounding()
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
    std::unique_ptr<QTemporaryDir> m_dir;
    QString read(const QString& name)
    {
        QFile file(m_dir->filePath("Framix/" + name + ".ini"));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    void write(const QString& name, const QByteArray& text)
    {
        QDir(m_dir->path()).mkpath("Framix");
        QFile file(m_dir->filePath("Framix/" + name + ".ini"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        Settings::setConfigDirForTesting(m_dir->path());
    }

    // The placement and volume go to Framix.ini, the tips option to a file named after
    // the program; numbers are kept at single precision and written without exponents.
    void roundTrip()
    {
        Settings::setVideoPlacement({1500, 0.1, 7000.5, 300});
        Settings::setVolume(-250);
        Settings::setShowTipsAtStartup(0);
        const Settings::Placement p = Settings::videoPlacement();
        QVERIFY(p.left == 1500 && p.top == double(0.1f) && p.width == 7000.5 && p.height == 300);
        QCOMPARE(Settings::volume(), std::optional<int>(-250));
        QCOMPARE(Settings::showTipsAtStartup(), 0);
        const QString title = read("Framix");
        for (const char* line : {"[Settings]", "Left=1500\n", "Top=0.1\n", "Width=7000.5\n",
                                 "Height=300\n", "volume=-250\n"})
            QVERIFY2(title.contains(line), line);
        QVERIFY(!title.contains("Tips"));
        QVERIFY(read("tst_common").contains("[Options]\nShow%20Tips%20at%20Startup=0\n"));
    }

    // An empty store and values that do not read as numbers give the defaults.
    void unreadableValuesFallBack()
    {
        const Settings::Placement defaults = Settings::videoPlacement();
        QVERIFY(!Settings::volume().has_value() && Settings::showTipsAtStartup() == 1);
        write("Framix", "[Settings]\nLeft=1200\nTop=high\nWidth=nan\nHeight=\nvolume=loud\n");
        write("tst_common", "[Options]\nShow%20Tips%20at%20Startup=yes\n");
        const Settings::Placement p = Settings::videoPlacement();
        QVERIFY(p.left == 1200 && p.top == defaults.top && p.width == defaults.width &&
                p.height == defaults.height);
        QVERIFY(!Settings::volume().has_value() && Settings::showTipsAtStartup() == 1);
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    // The system's error texts are compared word for word.
    std::setlocale(LC_MESSAGES, "C");
    FileDialogTest fileDialog;
    PathTest paths;
    SettingsTest settings;
    return runTestClasses(argc, argv, {&fileDialog, &paths, &settings});
}

#include "tst_common.moc"
