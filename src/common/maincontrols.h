#pragma once

class QAbstractButton;
class QAction;
class QLabel;
class QMenu;
class QSlider;
class QWidget;

namespace framix {

// The main window's controls that the playback handlers drive: the video window's player
// reports write the labels, the position slider and the buttons, and the control states
// enable and disable them. The main window owns the widgets and fills this in once.
struct MainControls
{
    QWidget* frmmain = nullptr;

    QAbstractButton* cmdplay = nullptr;
    QAbstractButton* cmdplay1 = nullptr;
    QAbstractButton* cmdback = nullptr;
    QAbstractButton* cmdnext = nullptr;
    QAbstractButton* cmdseek = nullptr;
    QAbstractButton* cmdstep = nullptr;
    QAbstractButton* cmdcapture = nullptr;
    QAbstractButton* cmdinfo = nullptr;
    QAbstractButton* cmdfullscreen = nullptr;
    QAbstractButton* cmdnormal = nullptr;
    QAbstractButton* cmdmute = nullptr;
    QAbstractButton* cmdmute1 = nullptr;
    QAbstractButton* cmdfast = nullptr;
    QAbstractButton* cmdfast1 = nullptr;
    QAbstractButton* Command1 = nullptr;

    QSlider* Slider1 = nullptr; // position
    QSlider* Slider2 = nullptr; // volume
    QSlider* Slider3 = nullptr; // speed

    QLabel* lblstate = nullptr;
    QLabel* lbllength = nullptr;
    QLabel* lbltime = nullptr; // the shown frame's time and the number of frames

    QAction* mnuclose = nullptr;
    QAction* mnuinfo = nullptr;
    QAction* mnuplay = nullptr;
    QAction* mnupause = nullptr;
    QAction* mnufirst = nullptr;
    QAction* mnulast = nullptr;
    QAction* mnuback = nullptr;
    QAction* mnuforward = nullptr;
    QAction* mnugoto = nullptr;
    QMenu* mnuview = nullptr;
    QAction* mnuhalf = nullptr;
    QAction* mnunormal = nullptr;
    QAction* mnudouble = nullptr;
    QAction* mnufullscreen = nullptr;
    QAction* mnurepeat = nullptr;
    QAction* mnumute = nullptr;
    QAction* mnucapture = nullptr;
    QAction* mnubulk = nullptr;
    QAction* mnucopy = nullptr;
};

} // namespace framix
