#pragma once

#include <QMetaType>
#include <QString>

namespace framix {

// What the engine knows about an opened file. Frame numbers count display-order frames of
// the chosen video stream, from 0.
struct MediaInfo
{
    // Media without a picture still get a length in frames so that the player's position
    // slider works the same for them: the duration in seconds at this many frames per
    // second, rounded to the nearest frame.
    static constexpr int kSoundOnlyFrameRate = 25;

    QString path;
    qint64 fileSize = 0;
    QString containerName; // libavformat's short name, e.g. "mpeg", "avi", "mov,mp4,..."

    bool hasVideo = false;
    bool hasAudio = false;

    qint64 frameCount = 0; // video: frames in the index; sound only: see kSoundOnlyFrameRate
    double frameRate = 0;  // average display rate in frames per second
    qint64 durationMs = 0;

    int width = 0; // stored picture size in pixels (what a capture writes)
    int height = 0;
    int sampleAspectNum = 1;
    int sampleAspectDen = 1;
    // The width the picture is meant to be seen at: the stored width stretched by the
    // sample aspect ratio (1024 for 720x576 stored at 16:9), the stored width when pixels
    // are square or the ratio is unknown.
    int displayWidth() const;
    QString videoCodec; // e.g. "MPEG-2 video"
    QString pixelFormat;
    // The stream's transfer is PQ (SMPTE ST 2084) or HLG (ARIB STD-B67): high dynamic range
    // video, which needs tone mapping to look right on an ordinary screen.
    bool hdr = false;

    QString audioCodec; // e.g. "MP2 audio"
    int audioSampleRate = 0;
    int audioChannels = 0;

    // Short text naming the kind of media, e.g. "MPEG-2 video / MP2 audio".
    QString mediaType() const;
};

} // namespace framix

Q_DECLARE_METATYPE(framix::MediaInfo)
