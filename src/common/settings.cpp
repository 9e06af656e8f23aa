#include "settings.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSettings>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <iterator>
#include <system_error>

namespace framix {

namespace {

const QString kOrganization = QStringLiteral("Framix");
// Settings that belong to the program as a whole are filed under its title; the options are
// filed under the executable's name, so a renamed copy keeps its own options.
const QString kTitleApplication = QStringLiteral("Framix");

const QString kSettingsSection = QStringLiteral("Settings");
const QString kOptionsSection = QStringLiteral("Options");

const QString kLeftKey = QStringLiteral("Left");
const QString kTopKey = QStringLiteral("Top");
const QString kWidthKey = QStringLiteral("Width");
const QString kHeightKey = QStringLiteral("Height");
const QString kVolumeKey = QStringLiteral("volume");
const QString kOpenFolderKey = QStringLiteral("OpenFolder");
const QString kSaveFolderKey = QStringLiteral("SaveFolder");
const QString kShowTipsKey = QStringLiteral("Show Tips at Startup");
const QString kToneMapKey = QStringLiteral("ToneMapHDR");
const QString kDisplayShapeKey = QStringLiteral("CaptureDisplayShape");
const QString kDeinterlaceKey = QStringLiteral("Deinterlace");
const QString kJpegQualityKey = QStringLiteral("JpegQuality");
const QString kWebpQualityKey = QStringLiteral("WebpQuality");
const QString kBulkFolderKey = QStringLiteral("BulkFolder");
const QString kBulkTypeKey = QStringLiteral("BulkType");
// One key per entry, "RecentFile1" the most recent: every path stays plain text.
const QString kRecentFileKey = QStringLiteral("RecentFile%1");

constexpr int kShowTipsDefault = 1;
constexpr int kJpegQualityDefault = 95;
constexpr int kWebpQualityDefault = 90;

QString readText(const QString& application, const QString& section, const QString& key)
{
    QSettings store(QSettings::IniFormat, QSettings::UserScope, kOrganization, application);
    store.beginGroup(section);
    return store.value(key).toString();
}

void writeText(const QString& application, const QString& section, const QString& key,
               const QString& text)
{
    QSettings store(QSettings::IniFormat, QSettings::UserScope, kOrganization, application);
    store.beginGroup(section);
    store.setValue(key, text);
}

std::optional<int> readInt(const QString& application, const QString& section, const QString& key)
{
    bool ok = false;
    const int value = readText(application, section, key).trimmed().toInt(&ok);
    if (!ok)
        return std::nullopt;
    return value;
}

float readFloat(const QString& application, const QString& section, const QString& key,
                float fallback)
{
    bool ok = false;
    const float value = readText(application, section, key).trimmed().toFloat(&ok);
    // "inf" and "nan" parse, but no size or position can be made of them.
    if (!ok || !std::isfinite(value))
        return fallback;
    return value;
}

// The keys of the program's own section.
QString readOwn(const QString& key)
{
    return readText(kTitleApplication, kSettingsSection, key);
}

void writeOwn(const QString& key, const QString& text)
{
    writeText(kTitleApplication, kSettingsSection, key, text);
}

// A switch, stored as 0 or 1; anything that is not a number reads as `fallback`.
bool readSwitch(const QString& key, bool fallback)
{
    return readInt(kTitleApplication, kSettingsSection, key).value_or(fallback ? 1 : 0) != 0;
}

void writeSwitch(const QString& key, bool on)
{
    writeOwn(key, QString::number(on ? 1 : 0));
}

// A picture quality, 1..100; `fallback` for anything else.
int readQuality(const QString& key, int fallback)
{
    const int q = readInt(kTitleApplication, kSettingsSection, key).value_or(fallback);
    return q >= 1 && q <= 100 ? q : fallback;
}

void writeQuality(const QString& key, int quality)
{
    writeOwn(key, QString::number(std::clamp(quality, 1, 100)));
}

// The shortest text that reads back as the same single-precision number, in plain decimal
// notation: whole numbers have no decimal point and there is never an exponent.
QString floatText(float value)
{
    char buffer[64];
    const auto result =
        std::to_chars(std::begin(buffer), std::end(buffer), value, std::chars_format::fixed);
    if (result.ec != std::errc())
        return QString::number(static_cast<double>(value));
    return QString::fromLatin1(buffer, result.ptr - buffer);
}

} // namespace

Settings::Placement Settings::videoPlacement()
{
    const Placement defaults;
    Placement p;
    p.left =
        readFloat(kTitleApplication, kSettingsSection, kLeftKey, static_cast<float>(defaults.left));
    p.top =
        readFloat(kTitleApplication, kSettingsSection, kTopKey, static_cast<float>(defaults.top));
    p.width = readFloat(kTitleApplication, kSettingsSection, kWidthKey,
                        static_cast<float>(defaults.width));
    p.height = readFloat(kTitleApplication, kSettingsSection, kHeightKey,
                         static_cast<float>(defaults.height));
    return p;
}

void Settings::setVideoPlacement(const Placement& p)
{
    writeOwn(kLeftKey, floatText(static_cast<float>(p.left)));
    writeOwn(kTopKey, floatText(static_cast<float>(p.top)));
    writeOwn(kWidthKey, floatText(static_cast<float>(p.width)));
    writeOwn(kHeightKey, floatText(static_cast<float>(p.height)));
}

std::optional<int> Settings::volume()
{
    return readInt(kTitleApplication, kSettingsSection, kVolumeKey);
}

void Settings::setVolume(int value)
{
    writeOwn(kVolumeKey, QString::number(value));
}

QString Settings::openFolder()
{
    return readOwn(kOpenFolderKey);
}

void Settings::setOpenFolder(const QString& folder)
{
    writeOwn(kOpenFolderKey, folder);
}

QString Settings::saveFolder()
{
    return readOwn(kSaveFolderKey);
}

void Settings::setSaveFolder(const QString& folder)
{
    writeOwn(kSaveFolderKey, folder);
}

int Settings::showTipsAtStartup()
{
    const QString application = optionsApplicationName();
    std::optional<int> value = readInt(application, kOptionsSection, kShowTipsKey);
    // Earlier versions kept the option in a file of its own named after the executable in
    // lower case (framix.ini beside Framix.ini): its answer still counts.
    if (!value && application == kTitleApplication)
        value = readInt(application.toLower(), kOptionsSection, kShowTipsKey);
    return value.value_or(kShowTipsDefault);
}

void Settings::setShowTipsAtStartup(int value)
{
    // The option is a 16-bit flag in the store.
    writeText(optionsApplicationName(), kOptionsSection, kShowTipsKey,
              QString::number(static_cast<qint16>(value)));
}

bool Settings::toneMapHdr()
{
    return readSwitch(kToneMapKey, true);
}

void Settings::setToneMapHdr(bool on)
{
    writeSwitch(kToneMapKey, on);
}

bool Settings::deinterlace()
{
    return readSwitch(kDeinterlaceKey, false);
}

void Settings::setDeinterlace(bool on)
{
    writeSwitch(kDeinterlaceKey, on);
}

bool Settings::captureDisplayShape()
{
    return readSwitch(kDisplayShapeKey, false);
}

void Settings::setCaptureDisplayShape(bool on)
{
    writeSwitch(kDisplayShapeKey, on);
}

int Settings::jpegQuality()
{
    return readQuality(kJpegQualityKey, kJpegQualityDefault);
}

void Settings::setJpegQuality(int quality)
{
    writeQuality(kJpegQualityKey, quality);
}

int Settings::webpQuality()
{
    return readQuality(kWebpQualityKey, kWebpQualityDefault);
}

void Settings::setWebpQuality(int quality)
{
    writeQuality(kWebpQualityKey, quality);
}

QString Settings::bulkFolder()
{
    return readOwn(kBulkFolderKey);
}

void Settings::setBulkFolder(const QString& folder)
{
    writeOwn(kBulkFolderKey, folder);
}

QString Settings::bulkType()
{
    return readOwn(kBulkTypeKey);
}

void Settings::setBulkType(const QString& type)
{
    writeOwn(kBulkTypeKey, type);
}

QStringList Settings::recentFiles()
{
    QStringList paths;
    for (int i = 1; i <= kRecentFiles; ++i) {
        const QString path = readOwn(kRecentFileKey.arg(i));
        if (!path.isEmpty() && !paths.contains(path))
            paths << path;
    }
    return paths;
}

void Settings::setRecentFiles(const QStringList& paths)
{
    QSettings store(QSettings::IniFormat, QSettings::UserScope, kOrganization, kTitleApplication);
    store.beginGroup(kSettingsSection);
    for (int i = 1; i <= kRecentFiles; ++i) {
        if (i <= paths.size())
            store.setValue(kRecentFileKey.arg(i), paths.at(i - 1));
        else
            store.remove(kRecentFileKey.arg(i));
    }
}

QString Settings::optionsApplicationName()
{
    if (QCoreApplication::instance() == nullptr)
        return kTitleApplication;
    return optionsApplicationNameFor(
        QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName());
}

QString Settings::optionsApplicationNameFor(const QString& executable)
{
    // The program under its own name (framix, as installed) keeps everything in one file;
    // only a copy renamed to something else keeps its options apart.
    if (executable.isEmpty() || executable.compare(kTitleApplication, Qt::CaseInsensitive) == 0)
        return kTitleApplication;
    return executable;
}

void Settings::setConfigDirForTesting(const QString& dir)
{
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir);
}

} // namespace framix
