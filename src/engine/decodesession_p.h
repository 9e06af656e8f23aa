#pragma once
// Private to the engine: one opened file with its chosen video stream and decoder.

#include "engineerror.h"
#include "ffmpeg_p.h"
#include "mediainfo.h"
#include "orientation_p.h"
#include "sourceoptions.h"

#include <QVector>

#include <atomic>
#include <functional>

namespace framix {

// Opens a file with libavformat, picks its video stream (the one asked for, or the default
// one; or only the best audio stream when there is no picture) and opens a threaded decoder
// for the video. The index
// builder and the random-access source both read packets through this class, with the same
// settings, so both see exactly the same packet sequence. Not thread-safe: one thread
// uses one session.
class DecodeSession
{
public:
    DecodeSession() = default;
    ~DecodeSession();
    DecodeSession(const DecodeSession&) = delete;
    DecodeSession& operator=(const DecodeSession&) = delete;

    // Opens `path`. With `cancel`, a long open or read stops when it becomes true.
    bool open(const QString& path, EngineError* error, const std::atomic_bool* cancel = nullptr,
              const SourceOptions& options = {});
    const SourceOptions& options() const { return m_options; }
    // Closes and opens the container again, keeping the decoder: the one sure way back to
    // the very first packet, whatever the container's seeking support. A regular file is
    // read through the descriptor opened first, so this works while the file is renamed or
    // deleted meanwhile.
    bool reopenContainer(EngineError* error);

    bool hasVideo() const { return m_videoIndex >= 0; }
    AVFormatContext* format() const { return m_format.get(); }
    AVStream* videoStream() const;
    AVCodecContext* decoder() const { return m_decoder.get(); }
    // Opens the decoder again with one thread, for a file the decoder finds damaged: how
    // frame threads patch up a broken picture depends on their timing, one thread's does
    // not. Stays so until the file is opened again.
    bool useOneThread(EngineError* error);
    // A new decoder in place of the current one, with the same settings: a flush leaves a
    // decoder with what it patches damaged pictures from, a new one starts as a reading
    // from the start of the file does.
    bool reopenDecoder(EngineError* error);
    bool oneThread() const { return m_oneThread; }
    // Whether the decoder says it had to patch up this picture, or could not decode all of it.
    static bool damaged(const AVFrame* frame)
    {
        return frame->decode_error_flags != 0 || (frame->flags & AV_FRAME_FLAG_CORRUPT);
    }
    MediaInfo probeInfo() const; // everything but the frame count of video media
    // The video stream read when none is asked for, -1 when the file has none.
    int defaultVideoStream() const { return m_defaultVideo; }
    // How the picture is turned upright (nothing with autorotation off).
    const Orientation& orientation() const { return m_orientation; }
    // Names the colour matrix of an untagged picture and turns it upright; every picture
    // handed out of the engine passes here once.
    bool preparePicture(AVFrame* frame) { return m_preparer.prepare(frame); }

    // Next packet of the video stream, or false at the end of the file or on a read error
    // that ends it (the error text goes to the log).
    bool readVideoPacket(AVPacket* packet);
    // Why reading stopped before the end of the file, or "" when it reached the end: a read
    // error, or the file shrank or was rewritten while it was read.
    QString earlyEnd() const;
    // The checksum we identify packets by.
    static quint32 checksum(const AVPacket* packet);

private:
    bool openContainer(EngineError* error);
    bool openDecoder(EngineError* error);
    void closeInput();
    static int interruptCallback(void* opaque);
    static int readFile(void* opaque, uint8_t* buffer, int size);
    static int64_t seekFile(void* opaque, int64_t offset, int whence);

    QString m_path;
    SourceOptions m_options;
    const std::atomic_bool* m_cancel = nullptr;
    Orientation m_orientation;
    PicturePreparer m_preparer;
    int m_defaultVideo = -1;
    int m_fd = -1;      // the open regular file; -1 for a pipe or device, read by its name
    qint64 m_pos = 0;   // where the reader of m_fd is
    qint64 m_size = -1; // the file's size and modification time when it was opened
    qint64 m_mtimeNs = 0;
    QString m_readError; // the error that ended reading, if it was not the end of the file
    AVIOContext* m_io = nullptr;
    ff::FormatPtr m_format;
    ff::CodecPtr m_decoder;
    int m_videoIndex = -1;
    int m_audioIndex = -1;
    bool m_oneThread = false;
};

// The video streams of a file, cover pictures left out, and the one read by default.
QVector<int> videoStreamsOf(const AVFormatContext* ctx);
int defaultVideoStreamOf(const AVFormatContext* ctx);

// Largest picture we agree to decode, in pixels (8K by 8K). A file that claims more is
// refused before anything is allocated for it.
inline constexpr qint64 kMaxPixels = qint64(8192) * 8192;

// The error for a file of which no picture decodes, with FFmpeg's last complaint as the
// detail (a picture too large for the decoder is told apart).
EngineError noPictureError();

QString describeVideoCodec(int codecId);
QString describeAudioCodec(int codecId);

} // namespace framix
