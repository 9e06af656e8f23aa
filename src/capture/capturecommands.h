#pragma once

#include "captureplayer.h"
#include "frmbulk.h"
#include "maincontrols.h"

#include <QPointer>

namespace framix {

// The main window's capture commands: Capture Current Frame (the frame on screen into a
// BMP file the user names) and Bulk Capture (opens the bulk dialog). The frame travels
// through the clipboard, as the player's CopyFrame puts it there. UI thread only.
class CaptureCommands
{
public:
    CaptureCommands(const MainControls& main, CapturePlayer* player);

    void mnucapture_Click();
    void cmdcapture_Click();
    void mnubulk_Click();

    // The open bulk dialog, if any (tests drive it).
    frmbulk* bulkDialog() const { return m_bulk; }

private:
    MainControls m_main;
    CapturePlayer* m_player;
    QPointer<frmbulk> m_bulk;
};

// Writes the clipboard's picture to `path` as a 24-bit Windows bitmap, all or nothing.
// False when the clipboard holds no picture or the file cannot be written.
bool saveClipboardPicture(const QString& path, QString* why = nullptr);

} // namespace framix
