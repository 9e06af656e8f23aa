// The settings files are text anyone can edit: whatever they hold, every value read back is
// one the program can use (finite window geometry, a JPEG quality from 1 to 100), and what
// is written is read back as written.

#include "settings.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <cmath>
#include <cstdlib>

using namespace framix;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // A folder of its own each time: QSettings keeps what it read of a file it has seen.
    QTemporaryDir dir;
    if (!dir.isValid())
        std::abort();
    Settings::setConfigDirForTesting(dir.path());
    QDir().mkpath(dir.filePath(QStringLiteral("Framix")));
    QFile file(dir.filePath(QStringLiteral("Framix/Framix.ini")));
    if (!file.open(QIODevice::WriteOnly))
        std::abort();
    file.write(reinterpret_cast<const char*>(data), qint64(size));
    file.close();

    const Settings::Placement p = Settings::videoPlacement();
    for (const double v : {p.left, p.top, p.width, p.height})
        if (!std::isfinite(v))
            std::abort();
    const int quality = Settings::jpegQuality();
    if (quality < 1 || quality > 100)
        std::abort();
    (void)Settings::volume();
    (void)Settings::openFolder();
    (void)Settings::toneMapHdr();
    (void)Settings::captureDisplayShape();
    (void)Settings::showTipsAtStartup();

    Settings::setVideoPlacement(p);
    const Settings::Placement back = Settings::videoPlacement();
    if (float(back.left) != float(p.left) || float(back.width) != float(p.width))
        std::abort();
    return 0;
}
