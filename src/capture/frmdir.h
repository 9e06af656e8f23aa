#pragma once

#include <QComboBox>
#include <QListWidget>
#include <QPointer>
#include <QWidget>

class QPushButton;

namespace framix {

class frmbulk;

// The mounted volumes a user can save to: the root file system and the mounts a user
// sees (home, removable media, network shares), not the system's pseudo file systems.
// Reports the chosen volume's root path as its drive.
class DriveList : public QComboBox
{
    Q_OBJECT
public:
    explicit DriveList(QWidget* parent = nullptr);
    QString drive() const;
    // Selects the volume holding `path` (the deepest mount point above it).
    void setDrive(const QString& path);
    // Replaces the volumes listed (tests list folders of their own).
    void setVolumes(const QStringList& roots);
    static QStringList mountedVolumes();
};

// A folder list: the chain of folders from the volume root down to the open folder, then
// the open folder's subfolders. Double-clicking a folder opens it. path() is the open
// folder ("/" for the root, otherwise without a trailing "/").
class DirList : public QListWidget
{
    Q_OBJECT
public:
    explicit DirList(QWidget* parent = nullptr);
    QString path() const { return m_path; }
    // Opens `path`; false with *why set (the system's description) when it cannot be read.
    bool setPath(const QString& path, QString* why = nullptr);
    // Opens the folder shown in `row` (what a double-click does).
    void openRow(int row);

private:
    QString m_path;
};

// The output folder chooser of the bulk dialog ("Output Path"): a drive list and a folder
// list; OK writes the open folder into the bulk dialog's output box. Created by each use
// and destroyed when closed; closing enables the main window, then the bulk dialog.
class frmdir : public QWidget
{
    Q_OBJECT
public:
    frmdir(QWidget* mainWindow, frmbulk* bulk, QWidget* parent = nullptr);

    DriveList* Drive1 = nullptr;
    DirList* Dir1 = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;

    void Drive1_Change();
    void Command1_Click();
    void Command2_Click();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Form_Load();
    void Form_Unload();

    QPointer<QWidget> m_main;
    QPointer<frmbulk> m_bulk;
    QString LastDrive;
};

} // namespace framix
