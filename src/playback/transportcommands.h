#pragma once

#include "maincontrols.h"

namespace framix {

class frmvideo;

// The main window's transport, sound, speed and view handlers: Play and Pause, first,
// last, one frame back and forward, seeking with the position slider, Repeat; volume,
// Mute, speed, "DEFAULT", "2X" and "1X"; half, normal and double size and full screen.
// Each drives the player in the video window and flips the main window's buttons; the
// player's reports (handled by the video window) do the rest. UI thread only.
class TransportCommands
{
public:
    TransportCommands(const MainControls& main, frmvideo* video);

    void cmdplay_Click();
    void cmdplay1_Click();
    void cmdback_Click();
    void cmdnext_Click();
    void cmdseek_Click();
    void cmdstep_Click();
    void Slider1_Scroll();
    void Slider1_Change();
    void mnurepeat_Click();

    void Slider2_Change();
    void mnumute_Click();
    void Slider3_Change();
    void Command1_Click();
    void cmdfast_Click();
    void cmdfast1_Click();

    void mnuhalf_Click();
    void mnunormal_Click();
    void mnudouble_Click();
    void mnufullscreen_Click();
    // Go to Frame: asks for a frame number or a time and shows that exact frame.
    void mnugoto_Click();
    // Copy Frame: the frame at the position on the clipboard, at its stored size.
    void mnucopy_Click();

private:
    void zoomTo(int percent);

    MainControls m_main;
    frmvideo* m_video;
};

} // namespace framix
