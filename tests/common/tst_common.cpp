// The file dialog function and the real dialog behind it, paths and folders, the settings
// store, the list of recent files, and the frame places typed in Go to Frame and the bulk
// range boxes.

#include "fakedesktop.h"
#include "frametarget.h"
#include "mcommon.h"
#include "recentfiles.h"
#include "settings.h"
#include "testrunner.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
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
                     [act, last = QPointer<QWidget>(), n = 0]() mutable {
                         QWidget* top = QApplication::activeModalWidget();
                         if (auto* dialog = qobject_cast<QDialog*>(top); dialog && ++n > 250)
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
    // The owner is disabled while the dialog is up, and the answer ends at a NUL. A name
    // over 260 characters is refused with a message.
    void requestAndAnswer()
    {
        FakeDesktop fake;
        QWidget owner;
        fake.answers = {QString("/shots/a.bmp") + QChar(u'\0') + "junk", "/clips/a.mpg"};
        QCOMPARE(FileDialog(&owner, true, "Save", "Bitmaps|*.bmp|", "a.bmp", "bmp", "/shots"),
                 "/shots/a.bmp");
        QVERIFY(!fake.ownerEnabled.value(0) && owner.isEnabled() &&
                fake.dialogs[0].owner == &owner);
        QCOMPARE(FileDialog(&owner, false, "Open", kVideo, QString(261, 'n'), "", ""), QString());
        QVERIFY(fake.dialogs.size() == 1 &&
                fake.messages == QStringList{"Filename Length Overflow"});
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
        Desktop::FileRequest first = fake.dialogs[0], second = fake.dialogs[1];
        QVERIFY(second.initialName.isEmpty() && !fake.ownerEnabled[1] &&
                first.title == second.title);
        QVERIFY(second.initialDir == first.initialDir && second.defaultExt == first.defaultExt);
        QCOMPARE(second.nameFilters, first.nameFilters);
    }

    // Qt's filters: the description as written, then the patterns Qt filters with, where
    // "*.*" is every file.
    void nameFilters()
    {
        QCOMPARE(qtNameFilters(kVideo),
                 QStringList({"Moving Picture Experts Group (MPEG) (*.mpg *.mpeg *.m1v *.mp2 *.mpa "
                              "*.mpe *.mpv2)",
                              "Windows Video Files (*.avi *.wmv)", "All Files (*.*) (*)"}));
        QCOMPARE(qtNameFilters("Bitmap Files (*.bmp)|*.bmp|"),
                 QStringList{"Bitmap Files (*.bmp) (*.bmp)"});
        QCOMPARE(qtNameFilters(""), QStringList{});
    }

    // The real dialog, accepted with the name typed: Open asks before taking a file that
    // does not exist, and No leaves the dialog up for another try (here cancelled); Save
    // adds the extension of the type chosen in the list (the first, unless another is
    // chosen) to a name typed without one.
    void realDialog_data()
    {
        QTest::addColumn<bool>("save");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("answer"); // to the question; NoButton: none may come
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<int>("type"); // the save type chosen in the list
        QTest::newRow("missing, yes")
            << false << "new.mpg" << int(QMessageBox::Yes) << "new.mpg" << 0;
        QTest::newRow("missing, no")
            << false << "new.mpg" << int(QMessageBox::No) << QString() << 0;
        QTest::newRow("existing") << false << "here.mpg" << 0 << QString("here.mpg") << 0;
        QTest::newRow("save") << true << "typed" << 0 << QString("typed.bmp") << 0;
        QTest::newRow("save, PNG chosen") << true << "typed" << 0 << QString("typed.png") << 1;
        QTest::newRow("save, JPEG chosen") << true << "typed" << 0 << QString("typed.jpg") << 2;
        QTest::newRow("save, extension typed")
            << true << "typed.webp" << 0 << QString("typed.webp") << 1;
    }
    void realDialog()
    {
        QFETCH(bool, save);
        QFETCH(QString, name);
        QFETCH(int, answer);
        QFETCH(QString, chosen);
        QFETCH(int, type);
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
                // The type is chosen first and the name typed after it, since choosing a
                // type puts its extension on the name already typed.
                if (save) {
                    d->selectNameFilter(d->nameFilters().value(type));
                    d->findChild<QLineEdit*>("fileNameEdit")->setText(name);
                }
                ++shown == 1 ? static_cast<QDialog*>(d)->accept() : d->reject();
            }
        });
        const QStringList types{"Bitmap Files (*.bmp)", "PNG Files (*.png)",
                                "JPEG Files (*.jpg *.jpeg)"};
        Desktop::FileRequest request{nullptr, save,  "Frame",   save ? types : QStringList(),
                                     name,    "bmp", dir.path()};
        QString path;
        const bool ok = Desktop().fileDialog(request, &path);
        QCOMPARE(ok ? path : QString(), chosen.isEmpty() ? QString() : dir.filePath(chosen));
        QCOMPARE(shown, answer == QMessageBox::No ? 2 : 1);
        QCOMPARE(question.startsWith(name + "\nThis file does not exist."), answer != 0);
        QVERIFY(!QFile::exists(dir.filePath("new.mpg")));
    }

    // The type list reads as the program words it, and "All Files (*.*)" lists a name
    // without a dot too.
    void typeList()
    {
        QTemporaryDir dir;
        QFile(dir.filePath("README")).open(QIODevice::WriteOnly);
        QStringList shown;
        bool listed = false;
        const auto script = driveModals([&](QWidget* w) {
            auto* d = qobject_cast<QFileDialog*>(w);
            if (!d)
                return;
            auto* types = d->findChild<QComboBox*>("fileTypeCombo");
            for (int i = 0; types && i < types->count(); ++i)
                shown << types->itemText(i);
            d->selectNameFilter(d->nameFilters().value(2));
            // The folder is read in the background.
            for (int tries = 0; tries < 60 && !listed; ++tries) {
                QTest::qWait(50);
                for (const char* name : {"listView", "treeView"}) {
                    auto* files = d->findChild<QAbstractItemView*>(name);
                    const QModelIndex root = files ? files->rootIndex() : QModelIndex();
                    for (int r = 0; files && r < files->model()->rowCount(root); ++r)
                        listed |= files->model()->index(r, 0, root).data() == "README";
                }
            }
            d->reject();
        });
        Desktop::FileRequest request{nullptr,   false,     "Open...", qtNameFilters(kVideo),
                                     QString(), QString(), dir.path()};
        Desktop().fileDialog(request, nullptr);
        QCOMPARE(shown, QStringList({"Moving Picture Experts Group (MPEG)", "Windows Video Files",
                                     "All Files (*.*)"}));
        QVERIFY(listed);
    }
};

class PathTest : public QObject
{
    Q_OBJECT
private slots:
    void splitting_data()
    {
        QTest::addColumn<QStringList>("row"); // path, with a slash added, folder, name
        QTest::newRow("empty") << QStringList{"", "", "", ""};
        QTest::newRow("root") << QStringList{"/", "/", "/", ""};
        QTest::newRow("file") << QStringList{"/clips/a.mpg", "/clips/a.mpg/", "/clips/", "a.mpg"};
        QTest::newRow("folder") << QStringList{"/clips/", "/clips/", "/clips/", ""};
        QTest::newRow("bare") << QStringList{"a.mpg", "a.mpg/", "", "a.mpg"};
    }
    void splitting()
    {
        QFETCH(QStringList, row);
        QString path = row[0];
        QVERIFY(SplitPath(path, true) == row[2] && SplitPath(path, false) == row[3]);
        AddBackslash(path);
        QCOMPARE(path, row[1]);
    }

    void homeAndExistence()
    {
        QCOMPARE(ExpandHome("~/frames"), QDir::homePath() + "/frames");
        QCOMPARE(ExpandHome("~"), QDir::homePath());
        QVERIFY(ExpandHome("/a/~/b") == "/a/~/b" && ExpandHome("~user/b") == "~user/b");
        QTemporaryDir dir;
        const QString file = dir.filePath("a.mpg");
        QFile(file).open(QIODevice::WriteOnly);
        QVERIFY(FileExists(file) && !FileExists(dir.path()) && !FileExists(""));
        QVERIFY(DirExists(dir.path() + "/") && !DirExists(file) && !DirExists(file + "/x"));
    }

    // Folders are made level by level; a level that cannot be made is reported with the
    // system's error, and the levels made before it stay.
    void createPath_data()
    {
        QTest::addColumn<QString>("path");  // in a new folder, "r/" relative to it
        QTest::addColumn<QString>("error"); // "-" for success
        QTest::newRow("levels") << "a/b/c"
                                << "-";
        QTest::newRow("relative") << "r/x"
                                  << "-";
        QTest::newRow("file in the way") << "file/c"
                                         << "Error 17: File exists\r\n";
        QTest::newRow("name too long")
            << "a/" + QString(300, 'n') << "Error 36: File name too long\r\n";
        QTest::newRow("read-only") << "ro/x"
                                   << "Error 13: Permission denied\r\n";
        QTest::newRow("empty") << QString() << QString();
    }
    void createPath()
    {
        QFETCH(QString, path);
        QFETCH(QString, error);
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
        const bool ok = CreatePath(full), exists = DirExists(full);
        QDir::setCurrent(before);
        QVERIFY(ok == (error == "-") && exists == ok);
        QCOMPARE(DirExists(dir.filePath("a")), path.startsWith("a/"));
        QCOMPARE(fake.messages,
                 ok ? QStringList{}
                    : QStringList{error + "Could Not Create/Access Directory:\r\n\r\n\"" +
                                  (full.isEmpty() ? "" : full + "/") + "\""});
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
        Settings::setToneMapHdr(false);
        Settings::setCaptureDisplayShape(true);
        Settings::setJpegQuality(80);
        Settings::setDeinterlace(true);
        Settings::setWebpQuality(70);
        Settings::setBulkFolder("/media/stick/frames");
        Settings::setBulkType("png16");
        QVERIFY(!Settings::toneMapHdr() && Settings::captureDisplayShape() &&
                Settings::jpegQuality() == 80 && Settings::webpQuality() == 70 &&
                Settings::deinterlace());
        QVERIFY(Settings::bulkFolder() == "/media/stick/frames" && Settings::bulkType() == "png16");
        const Settings::Placement p = Settings::videoPlacement();
        QVERIFY(p.left == 1500 && p.top == double(0.1f) && p.width == 7000.5 && p.height == 300);
        QVERIFY(Settings::volume() == -250 && Settings::showTipsAtStartup() == 0);
        for (const char* line :
             {"[Settings]", "Left=1500\n", "Top=0.1\n", "Width=7000.5\n", "Height=300\n",
              "volume=-250\n", "ToneMapHDR=0\n", "CaptureDisplayShape=1\n", "JpegQuality=80\n",
              "Deinterlace=1\n", "WebpQuality=70\n", "BulkFolder=/media/stick/frames\n",
              "BulkType=png16\n"})
            QVERIFY2(read("Framix").contains(line), line);
        QVERIFY(read("tst_common").contains("[Options]\nShow%20Tips%20at%20Startup=0\n"));
        // The program under its own name, in any case, keeps one file; a renamed copy its own.
        QCOMPARE(Settings::optionsApplicationNameFor("framix"), QString("Framix"));
        QCOMPARE(Settings::optionsApplicationNameFor("Framix"), QString("Framix"));
        QCOMPARE(Settings::optionsApplicationNameFor("framix-usb"), QString("framix-usb"));
    }

    // Values that do not read as numbers give what an empty store gives.
    void unreadableValuesFallBack()
    {
        const Settings::Placement empty = Settings::videoPlacement();
        QVERIFY(!Settings::volume().has_value() && Settings::showTipsAtStartup() == 1);
        QVERIFY(Settings::toneMapHdr() && !Settings::captureDisplayShape() &&
                Settings::jpegQuality() == 95 && !Settings::deinterlace());
        write("Framix", "[Settings]\nLeft=1200\nTop=high\nWidth=nan\nHeight=\nvolume=loud\n"
                        "ToneMapHDR=off\nJpegQuality=101\nWebpQuality=0\n");
        write("tst_common", "[Options]\nShow%20Tips%20at%20Startup=yes\n");
        const Settings::Placement p = Settings::videoPlacement();
        QVERIFY(p.left == 1200 && p.top == empty.top && p.width == empty.width &&
                p.height == empty.height);
        QVERIFY(!Settings::volume().has_value() && Settings::showTipsAtStartup() == 1);
        QVERIFY(Settings::toneMapHdr() && Settings::jpegQuality() == 95 &&
                Settings::webpQuality() == 90);
    }

    // The recent files: newest first, each once, absolute, at most eight, one key each;
    // empty keys and repeats in the store are passed over.
    void recentFiles()
    {
        QVERIFY(RecentFiles::list().isEmpty());
        for (int i = 1; i <= 10; ++i)
            RecentFiles::add(QString("/videos/%1.mp4").arg(i));
        RecentFiles::add("/videos/5.mp4");
        const QString current = QDir::currentPath();
        QDir::setCurrent(m_dir->path());
        RecentFiles::add("here.mkv");
        QDir::setCurrent(current);
        const QStringList want{m_dir->filePath("here.mkv"),
                               "/videos/5.mp4",
                               "/videos/10.mp4",
                               "/videos/9.mp4",
                               "/videos/8.mp4",
                               "/videos/7.mp4",
                               "/videos/6.mp4",
                               "/videos/4.mp4"};
        QCOMPARE(RecentFiles::list(), want);
        QVERIFY(read("Framix").contains("RecentFile1=" + m_dir->filePath("here.mkv") + "\n"));
        QVERIFY(read("Framix").contains("RecentFile8=/videos/4.mp4\n"));
        RecentFiles::remove("/videos/10.mp4");
        QCOMPARE(RecentFiles::list().size(), 7);
        QVERIFY(!read("Framix").contains("RecentFile8="));
        QVERIFY(!RecentFiles::list().contains("/videos/10.mp4"));
        write("Framix", "[Settings]\nRecentFile1=/a.mp4\nRecentFile2=\nRecentFile3=/a.mp4\n"
                        "RecentFile4=/b.mp4\nRecentFile9=/c.mp4\n");
        QCOMPARE(RecentFiles::list(), QStringList({"/a.mp4", "/b.mp4"}));
    }
};

class FrameTargetTest : public QObject
{
    Q_OBJECT
private slots:
    // What Go to Frame and the bulk range boxes accept: a frame number, or a time with
    // optional hours, minutes and fraction; anything else is refused rather than guessed at.
    void framesAndTimes_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("kind"); // 0 refused, 1 frame, 2 time in ms
        QTest::addColumn<qint64>("value");
        QTest::newRow("frame") << QStringLiteral(" 1234 ") << 1 << qint64(1234);
        QTest::newRow("h:mm:ss.mmm") << QStringLiteral("1:02:03.456") << 2 << qint64(3723456);
        QTest::newRow("m:ss.f") << QStringLiteral("2:03.5") << 2 << qint64(123500);
        QTest::newRow("s.ff") << QStringLiteral("3.25") << 2 << qint64(3250);
        QTest::newRow("m:ss") << QStringLiteral("0:02") << 2 << qint64(2000);
        QTest::newRow("seconds past 59") << QStringLiteral("1:60.0") << 0 << qint64(0);
        QTest::newRow("minutes past 59") << QStringLiteral("1:60:00") << 0 << qint64(0);
        QTest::newRow("negative") << QStringLiteral("-5") << 0 << qint64(0);
        QTest::newRow("words") << QStringLiteral("frame 5") << 0 << qint64(0);
        QTest::newRow("empty") << QString() << 0 << qint64(0);
    }
    void framesAndTimes()
    {
        QFETCH(QString, typed);
        QFETCH(int, kind);
        QFETCH(qint64, value);
        const auto target = FrameTarget::parse(typed);
        QCOMPARE(target.has_value(), kind != 0);
        if (target) {
            QCOMPARE(target->isTime, kind == 2);
            QCOMPARE(target->value, value);
        }
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    // The system's error texts are compared word for word.
    std::setlocale(LC_MESSAGES, "C");
    return runTestClasses(
        argc, argv, {new FileDialogTest, new PathTest, new SettingsTest, new FrameTargetTest});
}

#include "tst_common.moc"
