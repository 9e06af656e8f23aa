#pragma once

#include "captureplayer.h"
#include "frmbulk.h"
#include "imagewriter.h"
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
    static QString lastSaveFolder();

    MainControls m_main;
    CapturePlayer* m_player;
    QPointer<frmbulk> m_bulk;
};

// How captures of `player`'s file are written in `format`: JPEG at the chosen quality, and
// in the picture's display shape when that setting is on.
ImageOptions captureImageOptions(const CapturePlayer& player, ImageFormat format);

// Writes the clipboard's picture to `path`, all or nothing, in the format its extension
// names (.png, .jpg, .jpeg, .tif, .tiff, .webp; a 24-bit Windows bitmap for any other), as
// `player`'s captures are written. False when the clipboard holds no picture or the file
// cannot be written.
bool saveClipboardPicture(const CapturePlayer& player, const QString& path, QString* why = nullptr);

} // namespace framix
