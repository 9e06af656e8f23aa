#pragma once

#include "frmdir.h"
#include "maincontrols.h"

#include <QPointer>
#include <QWidget>

class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSlider;

namespace framix {

class CapturePlayer;

// The bulk capture dialog: writes every frame of the open media, or a from-to range, into
// a folder as frame<N>.bmp. Each frame goes the way a single capture goes: the player is
// moved to it, copies it to the clipboard, and the clipboard's picture is written. The run
// yields to the event loop once per frame, which is where Cancel, closing the dialog and
// the video window are served.
//
// Created by each Bulk Capture command and destroyed when closed. A close that happens
// inside a run's event pass only hides the dialog; it is destroyed once the run has
// returned, so the run never works on a deleted dialog. UI thread only.
class frmbulk : public QWidget
{
    Q_OBJECT
public:
    // Where frames go unless the user chooses: the program's folder when it can be
    // written, otherwise the user's pictures folder (a "Framix" folder in it).
    static QString defaultOutputFolder(const QString& programDir);
    frmbulk(const MainControls& main, CapturePlayer* player, QWidget* parent = nullptr);
    ~frmbulk() override;

    void cmdcapture_Click();
    void cmdcancel_Click();
    void cmddir_Click();
    void lsttypes_Click();
    void Option1_Click();
    void Option2_Click();
    void sldfrom_Change();
    void sldto_Change();

    // The control states of a running and of a finished run.
    void disable();
    void enablex();

    bool isRunning() const { return m_running; }
    // The folder chooser while it is open.
    frmdir* chooser() const { return m_chooser; }

    QLineEdit* txtfile = nullptr;
    QLineEdit* txtout = nullptr;
    QPushButton* cmddir = nullptr;
    QListWidget* lsttypes = nullptr;
    QGroupBox* Frame1 = nullptr;
    QRadioButton* Option1 = nullptr;
    QRadioButton* Option2 = nullptr;
    QSlider* sldfrom = nullptr;
    QSlider* sldto = nullptr;
    QLabel* lblfrom = nullptr;
    QLabel* lblto = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QLabel* Label2 = nullptr;
    QPushButton* cmdcapture = nullptr;
    QPushButton* cmdcancel = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Form_Load();
    void Form_QueryUnload();
    void setRangeControlsEnabled(bool on);

    MainControls m_main;
    CapturePlayer* m_player;
    int FirstFrame = 1;
    int LastFrame = 1;
    int CurFrame = 1;
    QString OutExt;
    bool RestoreRepeat = false;
    bool m_running = false;
    bool m_closed = false;
    QPointer<frmdir> m_chooser;
};

} // namespace framix
