#pragma once

#include <QMetaType>
#include <QString>
#include <QVector>

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

    // The picture's size in pixels as it is shown and captured: the stored size, turned a
    // quarter when the picture is (see rotation).
    int width = 0;
    int height = 0;
    // How the stored picture is turned upright, as the container's display matrix asks (a
    // phone's portrait video): degrees clockwise (0, 90, 180, 270), and mirrored or not.
    int rotation = 0;
    bool mirrored = false;
    int storedWidth = 0; // the picture as the stream stores it
    int storedHeight = 0;
    // The video stream read (its index in the container) and the file's video streams to
    // choose from, cover pictures left out.
    int videoStream = -1;
    struct VideoStream
    {
        int index = -1;
        QString codec; // e.g. "H.264"
        int width = 0; // stored size
        int height = 0;
        bool isDefault = false; // the one read unless another is asked for
        QString title;          // the container's name or language for it, if any
    };
    QVector<VideoStream> videoStreams;
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
