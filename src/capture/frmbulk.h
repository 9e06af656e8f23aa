#pragma once

#include "framelist.h"
#include "framenamer.h"
#include "frmdir.h"
#include "imagewriter.h"
#include "maincontrols.h"

#include <QPointer>
#include <QWidget>

#include <optional>
#include <vector>

class QCheckBox;
class QDoubleSpinBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSlider;
class QSpinBox;

namespace framix {

class CapturePlayer;
class FrameSpinBox;
class ImageWritePool;

// The bulk capture dialog: writes every frame of the open media, or a from-to range, into
// a folder as frame<N>.bmp (or .png, .jpg, .tiff, .webp; the names come from a template
// with the tokens of FrameNamer). Of the range it takes every frame, every N-th, the
// keyframes or the first frame of each scene, and it can list what it wrote in frames.csv
// beside the files. It asks before it writes over files already in the folder, and the
// folder and type of the last run come back at the next opening. Each frame goes the way a
// single capture goes: the player is moved to it, copies it to the clipboard, and the
// clipboard's picture is written (for 16-bit PNG, the decoded frame the player copied). The
// run yields to the event loop once per frame, which is where Cancel, closing the dialog and
// the video window are served; finding the scene changes first runs on a worker thread
// while the dialog stays responsive.
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
    void cmdopen_Click();
    void lsttypes_Click();
    void txtname_Change();
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
    // The name of the frame list written beside the files.
    static constexpr const char* kFrameListName = "frames.csv";

    QLineEdit* txtfile = nullptr;
    QLineEdit* txtout = nullptr;
    QPushButton* cmddir = nullptr;
    QListWidget* lsttypes = nullptr;
    QLabel* lblquality = nullptr;
    QSpinBox* spnquality = nullptr; // JPEG and WebP quality
    QLineEdit* txtname = nullptr;   // the file name template
    QLabel* lblname = nullptr;      // the first file name of the run, or why there is none
    QGroupBox* Frame1 = nullptr;
    QRadioButton* Option1 = nullptr;
    QRadioButton* Option2 = nullptr;
    QSlider* sldfrom = nullptr;
    QSlider* sldto = nullptr;
    QLabel* lblfrom = nullptr;
    QLabel* lblto = nullptr;
    // The sliders' values, typed as frame numbers or times.
    FrameSpinBox* spnfrom = nullptr;
    FrameSpinBox* spnto = nullptr;
    // Which frames of the range are saved.
    QGroupBox* Frame2 = nullptr;
    QRadioButton* optall = nullptr;
    QRadioButton* optevery = nullptr;
    QSpinBox* spnevery = nullptr;
    QRadioButton* optkey = nullptr;
    QRadioButton* optscenes = nullptr;
    QDoubleSpinBox* spnscene = nullptr; // scene change threshold
    QCheckBox* chkcsv = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QLabel* Label2 = nullptr;
    QPushButton* cmdcapture = nullptr;
    QPushButton* cmdcancel = nullptr;
    QPushButton* cmdopen = nullptr; // the last run's folder in the file manager

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void Form_Load();
    // Names the player's open file and sets the range sliders to the whole of it.
    void takeMedia();
    // When another file was opened (or the file closed) since the dialog named one, the
    // dialog names the new one; true when it had to.
    bool followMedia();
    void Form_QueryUnload();
    // The folder and type of the last run, when they can still be used.
    void restoreChoices();
    void setRangeControlsEnabled(bool on);
    // The range boxes take the sliders' ranges and values.
    void syncRangeBoxes();
    void updateChoiceControls();
    // The template's namer, or nothing with the reason in *why.
    std::optional<FrameNamer> namer(QString* why) const;
    // The name (with the type's extension) of frame n's file.
    QString fileName(const FrameNamer& namer, int n) const;
    // The first frame a run begun now would write.
    int firstFrameOfRun() const;
    void updatePreview();
    // The names of the frames' files; false with *failure set when two frames would share
    // one.
    bool nameFrames(const FrameNamer& namer, const std::vector<int>& frames,
                    std::vector<QString>* names, QString* failure) const;
    // Asks before files in the folder are written over; true when there are none or the
    // user lets them be replaced.
    bool confirmReplace(const QString& folder, const std::vector<QString>& names);
    // The frames of FirstFrame..LastFrame to capture, in order; false with *failure set when
    // there are none (or the scene search failed; an empty failure: it was cancelled).
    bool chooseFrames(std::vector<int>* frames, QString* failure);
    bool findScenes(std::vector<int>* frames, QString* failure);
    // The end of a run, complete or not: a failure is reported, and a dialog closed during
    // the run goes now.
    void endRun(const QString& failure);
    // Writes the list of the frames the writers finished, in the order they were captured.
    static bool writeFrameList(const QString& folder, const ImageWritePool& writer,
                               const std::vector<FrameListEntry>& listed, QString* failure);
    // "  (12.5 frames/s, 0:42 left)" after `done` of `total` frames, `ms` after the start.
    static QString rateText(int done, int total, quint32 ms);

    MainControls m_main;
    CapturePlayer* m_player;
    int FirstFrame = 1;
    int LastFrame = 1;
    int CurFrame = 1;
    QString OutExt;
    ImageFormat m_format = ImageFormat::Bmp;
    int m_type = 0;          // row of the type list
    QString m_writtenFolder; // where the last run wrote files, for Open Folder
    bool RestoreRepeat = false;
    bool m_running = false;
    QString m_media; // the file the dialog names, as the player was given it
    bool m_closed = false;
    QPointer<frmdir> m_chooser;
};

} // namespace framix
