#pragma once

#include "maincontrols.h"
#include "sourceoptions.h"

#include <QString>

#include <functional>

namespace framix {

class frmvideo;

// The main window's media commands File > Open, Close and Exit, and the four control
// states that decide which buttons, sliders and menu items can be used: `activate`,
// `audio`, `video` and `disable`. UI thread only.
class MediaCommands
{
public:
    MediaCommands(const MainControls& main, frmvideo* video);

    void mnuopen_Click();
    // Open with the file already chosen (command line, drag and drop): Open's steps from
    // the existence check on.
    void openPath(const QString& chosen, const SourceOptions& reading = {});
    // Opens the open file again with its video stream of that index, at the same moment.
    void chooseVideoStream(int index);
    void mnuclose_Click();
    void mnuexit_Click();

    void activate();
    void audio();
    void video();
    void disable();

    // How Exit ends the program (tests replace it). Default: leave the event loop at once.
    void setEndProgram(std::function<void()> end) { m_endProgram = std::move(end); }

private:
    MainControls m_main;
    frmvideo* m_video;
    std::function<void()> m_endProgram;
};

} // namespace framix
