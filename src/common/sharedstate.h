#pragma once

namespace framix {

// The program-wide flags that several windows read and write (one instance, not saved
// between runs). Each says who sets it where it is set.
struct SharedState
{
    // True: the video window's resize may make the player follow the window; false while
    // the program itself sizes the window.
    bool resizeok = false;
    // True while the video window is in full screen.
    bool fullscreen = false;
    // True: a stop reported by the player does not restart playback (Repeat off).
    bool norepeat = false;
    // True: the user moved the position slider and the seek is not done; the player's
    // position reports then leave the slider alone.
    bool seeking = false;
    // True while the open media has no picture.
    bool audioonly = false;
    // Last value read from the position slider.
    int seekpos = 0;
    // Last values sent from the volume and speed sliders.
    int curvolume = 0;
    int curspeed = 0;
    // Set by Cancel (or closing) in the bulk capture dialog; read once per captured frame.
    bool cancelcapture = false;
};

// The one instance. UI thread only.
SharedState& shared();

} // namespace framix
