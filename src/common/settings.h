#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace framix {

// The program's persistent settings. Every stored key is named in settings.cpp only; the rest
// of the program goes through these typed accessors. Values live as text in INI files under
// the user's configuration folder (~/.config/Framix/).
class Settings
{
public:
    // The video window's placement, in twips.
    struct Placement
    {
        double left = 1000;
        double top = 1000;
        double width = 6500;
        double height = 6500;
    };

    static Placement videoPlacement();
    static void setVideoPlacement(const Placement& p);

    // The playback volume; nullopt when none has been stored.
    static std::optional<int> volume();
    static void setVolume(int value);

    // The folder the last media file was opened from; "" when none was.
    static QString openFolder();
    static void setOpenFolder(const QString& folder);
    // The folder the last single frame was saved in; "" when none was.
    static QString saveFolder();
    static void setSaveFolder(const QString& folder);

    // Whether the tip of the day is shown at startup (1) or not (0).
    static int showTipsAtStartup();
    static void setShowTipsAtStartup(int value);

    // Whether high dynamic range video (PQ or HLG) is shown, copied and saved tone-mapped
    // to standard range; on unless the user turned it off.
    static bool toneMapHdr();
    static void setToneMapHdr(bool on);

    // Whether interlaced video is shown, copied and saved deinterlaced; off unless the user
    // turned it on.
    static bool deinterlace();
    static void setDeinterlace(bool on);

    // Whether captures are saved in the picture's display shape (non-square pixels scaled)
    // rather than as the stored pixels; off unless the user turned it on.
    static bool captureDisplayShape();
    static void setCaptureDisplayShape(bool on);

    // The quality JPEG captures are saved at, 1..100 (95 unless the user chose another).
    static int jpegQuality();
    static void setJpegQuality(int quality);

    // The quality lossy WebP bulk captures are saved at, 1..100 (90 unless the user chose
    // another).
    static int webpQuality();
    static void setWebpQuality(int quality);

    // The folder and the output type (the bulk dialog's own name for it) of the last bulk
    // capture; "" when there was none.
    static QString bulkFolder();
    static void setBulkFolder(const QString& folder);
    static QString bulkType();
    static void setBulkType(const QString& type);

    // The media files opened last, most recent first (at most kRecentFiles; see
    // RecentFiles, which keeps the list).
    static constexpr int kRecentFiles = 8;
    static QStringList recentFiles();
    static void setRecentFiles(const QStringList& paths);

    // The name of the file holding the options: "Framix" for the program under its own name
    // (in any case), else the executable's base name (a renamed copy).
    static QString optionsApplicationName();
    // The same for an executable of this name (without its extension).
    static QString optionsApplicationNameFor(const QString& executable);

    // Keeps the settings files of a test out of the user's configuration folder.
    static void setConfigDirForTesting(const QString& dir);
};

} // namespace framix
