#include "frmdir.h"

#include "desktop.h"
#include "frmbulk.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileIconProvider>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QStorageInfo>
#include <QVBoxLayout>

#include <cerrno>
#include <cstring>
#include <dirent.h>

namespace framix {

namespace {

// Mounts that hold the system's own machinery rather than a user's files.
bool isSystemMount(const QStorageInfo& volume)
{
    static const QStringList systemTypes = {
        QStringLiteral("proc"),        QStringLiteral("sysfs"),   QStringLiteral("devtmpfs"),
        QStringLiteral("devpts"),      QStringLiteral("cgroup"),  QStringLiteral("cgroup2"),
        QStringLiteral("securityfs"),  QStringLiteral("pstore"),  QStringLiteral("debugfs"),
        QStringLiteral("tracefs"),     QStringLiteral("mqueue"),  QStringLiteral("hugetlbfs"),
        QStringLiteral("configfs"),    QStringLiteral("fusectl"), QStringLiteral("bpf"),
        QStringLiteral("binfmt_misc"), QStringLiteral("autofs"),  QStringLiteral("overlay"),
        QStringLiteral("squashfs"),    QStringLiteral("nsfs"),    QStringLiteral("efivarfs")};
    const QString type = QString::fromLatin1(volume.fileSystemType());
    const QString root = volume.rootPath();
    if (root == QLatin1String("/"))
        return false;
    if (systemTypes.contains(type))
        return true;
    for (const char* prefix : {"/proc", "/sys", "/dev", "/run", "/boot", "/snap", "/var/lib"})
        if (root == QLatin1String(prefix) || root.startsWith(QLatin1String(prefix) + u'/'))
            return !root.startsWith(QLatin1String("/run/media/"));
    return false;
}

} // namespace

DriveList::DriveList(QWidget* parent) : QComboBox(parent)
{
    setVolumes(mountedVolumes());
    setDrive(QDir::currentPath());
}

QStringList DriveList::mountedVolumes()
{
    QStringList roots;
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes())
        if (volume.isValid() && !isSystemMount(volume) && !roots.contains(volume.rootPath()))
            roots << volume.rootPath();
    if (!roots.contains(QStringLiteral("/")))
        roots.prepend(QStringLiteral("/"));
    roots.sort();
    return roots;
}

void DriveList::setVolumes(const QStringList& roots)
{
    const QSignalBlocker block(this);
    clear();
    const QFileIconProvider icons;
    for (const QString& root : roots)
        addItem(icons.icon(QFileIconProvider::Drive), root, root);
}

QString DriveList::drive() const
{
    return currentData().toString();
}

void DriveList::setDrive(const QString& path)
{
    int best = -1;
    int bestLength = -1;
    for (int i = 0; i < count(); ++i) {
        const QString root = itemData(i).toString();
        const bool holds =
            path == root || root == QLatin1String("/") || path.startsWith(root + QLatin1Char('/'));
        if (holds && root.size() > bestLength) {
            best = i;
            bestLength = int(root.size());
        }
    }
    if (best >= 0)
        setCurrentIndex(best);
}

DirList::DirList(QWidget* parent) : QListWidget(parent)
{
    connect(this, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) { openRow(row(item)); });
}

bool DirList::setPath(const QString& path, QString* why)
{
    QString clean = QDir::cleanPath(QDir(path).absolutePath());
    // Read the folder the way the system does, so that a failure carries its own reason.
    DIR* dir = opendir(QFile::encodeName(clean).constData());
    if (!dir) {
        if (why)
            *why = QString::fromLocal8Bit(strerror(errno));
        return false;
    }
    closedir(dir);
    m_path = clean;
    clear();
    const QFileIconProvider icons;
    const QIcon folder = icons.icon(QFileIconProvider::Folder);
    // The chain from the root down to the open folder, each a step further in.
    QStringList chain;
    for (QString p = clean;; p = QFileInfo(p).path()) {
        chain.prepend(p);
        if (p == QLatin1String("/") || QFileInfo(p).path() == p)
            break;
    }
    int depth = 0;
    for (const QString& p : chain) {
        const QString name = p == QLatin1String("/") ? p : QFileInfo(p).fileName();
        auto* item = new QListWidgetItem(folder, QString(depth * 2, u' ') + name, this);
        item->setData(Qt::UserRole, p);
        ++depth;
    }
    setCurrentRow(int(chain.size()) - 1);
    const QStringList subfolders =
        QDir(clean).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    for (const QString& name : subfolders) {
        auto* item = new QListWidgetItem(folder, QString(depth * 2, u' ') + name, this);
        item->setData(Qt::UserRole,
                      clean == QLatin1String("/") ? clean + name : clean + u'/' + name);
    }
    return true;
}

void DirList::openRow(int row)
{
    if (QListWidgetItem* it = item(row)) {
        QString why;
        if (!setPath(it->data(Qt::UserRole).toString(), &why))
            Desktop::instance().message(this, why, QStringLiteral("Tavrino"),
                                        Desktop::Icon::Information);
    }
}

frmdir::frmdir(QWidget* mainWindow, frmbulk* bulk, QWidget* parent)
    : QWidget(parent, Qt::Window), m_main(mainWindow), m_bulk(bulk)
{
    setWindowTitle(QStringLiteral("Output Path"));
    setAttribute(Qt::WA_DeleteOnClose);
    Drive1 = new DriveList(this);
    Dir1 = new DirList(this);
    Command1 = new QPushButton(QStringLiteral("&OK"), this);
    Command2 = new QPushButton(QStringLiteral("&Cancel"), this);
    Command1->setDefault(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Drive1);
    layout->addWidget(Dir1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Command1);
    buttons->addWidget(Command2);
    layout->addLayout(buttons);
    resize(360, 320);
    connect(Drive1, &QComboBox::currentIndexChanged, this, &frmdir::Drive1_Change);
    connect(Command1, &QPushButton::clicked, this, &frmdir::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &frmdir::Command2_Click);
    Form_Load();
}

void frmdir::Form_Load()
{
    // The list opens on the current folder of the volume the program runs in.
    if (!Dir1->setPath(QDir::currentPath()))
        Dir1->setPath(Drive1->drive());
    LastDrive = Drive1->drive();
}

void frmdir::Drive1_Change()
{
    QString why;
    if (Dir1->setPath(Drive1->drive(), &why)) {
        LastDrive = Drive1->drive();
        return;
    }
    Desktop::instance().message(this, why, QStringLiteral("Tavrino"), Desktop::Icon::Information);
    // Back to the last volume that could be read (which shows its folders again).
    const int last = Drive1->findData(LastDrive);
    if (last >= 0 && last != Drive1->currentIndex())
        Drive1->setCurrentIndex(last);
}

void frmdir::Command1_Click()
{
    if (m_bulk)
        m_bulk->txtout->setText(Dir1->path());
    close();
}

void frmdir::Command2_Click()
{
    close();
}

void frmdir::closeEvent(QCloseEvent* event)
{
    Form_Unload();
    event->accept();
}

void frmdir::Form_Unload()
{
    if (m_main)
        m_main->setEnabled(true);
    if (m_bulk)
        m_bulk->setEnabled(true);
}

} // namespace framix
