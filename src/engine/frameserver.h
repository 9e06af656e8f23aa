#pragma once

#include "engineerror.h"
#include "frameindex.h"
#include "mediainfo.h"
#include "sourceoptions.h"
#include "videoframe.h"

#include <QImage>
#include <QObject>

#include <QVector>

#include <memory>
#include <optional>

namespace framix {

// Runs a VideoSource on a worker thread of its own, so the UI thread never waits for
// indexing or a GOP's decoding. Requests are methods that return at once; only the newest
// frame request is kept, so a slider drag makes a few seeks, not hundreds. Results come
// back as signals, delivered on the thread the FrameServer lives in (the UI thread), with
// the picture already converted to RGB at its stored size.
//
// The public methods are called from the owner's thread.
class FrameServer : public QObject
{
    Q_OBJECT
public:
    struct StreamFrame
    {
        VideoFrame frame;
        QImage image;
    };

    explicit FrameServer(QObject* parent = nullptr);
    ~FrameServer() override;

    // Opens `path` (index from the cache or built); emits opened() or errorOccurred().
    // `video` says which stream and whether it is turned upright. Cancels an open still in
    // progress. An index made without decoding is then checked
    // against the decoder's on a background thread of low priority; should they differ,
    // the decoder's is taken and indexChanged() says so.
    void openFile(const QString& path, const SourceOptions& video = {});
    // Asks for frame n; replaces any request not started yet. Emits frameReady() (with a
    // Format_RGB32 picture, ready for the screen) or errorOccurred().
    void requestFrame(int n);
    // Frame n, decoded and converted (Format_BGR888, for copying) before this returns, ahead
    // of any queued request. Blocks the caller for as long as the decoding takes; meant for
    // capture, which must have exactly this frame. Ends a running stream.
    std::optional<StreamFrame> fetchFrame(int n, EngineError* error);
    // Forgets the open file (and any pending request).
    void closeFile();
    // The frame cache's limit (VideoSource::setCacheLimit; negative: by the picture size).
    void setCacheLimit(qint64 bytes);
    // Where index files go (empty: the default per-user cache folder).
    void setIndexCacheDir(const QString& dir);
    // Whether high dynamic range frames are tone-mapped (FrameConverter::setTonemap) in the
    // pictures made from now on: frameReady(), fetchFrame() and the stream. Off at first.
    // Returns at once; no picture made with the other setting is handed out afterwards:
    // frames read ahead are made again, and a frameReady() answer not yet delivered
    // is dropped (ask again for a frame still wanted).
    void setTonemap(bool on);

    // Whether frames flagged interlaced are deinterlaced (SourceOptions::deinterlace) from
    // now on, for the open file, without opening it again; openFile() sets it from its
    // options. As with setTonemap(), no picture made with the other setting is handed out
    // afterwards: the source's cached frames and those read ahead are made again, and so
    // are the stream's queued ones, from the first of them on.
    void setDeinterlace(bool on);

    // The open file's frame display times in ms, frame by frame; set before opened() is
    // emitted. Thread-safe.
    QVector<qint64> frameTimesMs() const;
    // What the open file's index says about each frame (FrameIndex::facts), published with
    // the times. Thread-safe.
    std::vector<FrameIndex::Facts> frameFacts() const;

    // Playback. startStream() makes the worker decode frames from `from` on, in order, into
    // a short queue that takeStreamFrame() drains; the worker waits while the queue is
    // full: when it holds kStreamQueue frames, or, once it holds kLeastStreamQueue, when
    // another frame would take its pictures (decoded and converted) past
    // kStreamQueueBytes (six 1080p frames fit, two 4K ones are let in). Frames below the deadline
    // (setStreamDeadline, the frame the clock has reached) are decoded, since later pictures need
    // them, but not converted: they are counted as dropped instead. Any other request, stopStream()
    // or the end of the file ends the stream; a new startStream() discards what the old one queued.
    // Stream pictures are Format_RGB32. Thread-safe.
    void startStream(int from);
    void stopStream();
    void setStreamDeadline(int frame);
    std::optional<StreamFrame> takeStreamFrame();
    // Frame number at the head of the queue without taking it, or -1.
    int peekStreamFrame() const;
    // True once the stream has queued its last frame (or failed).
    bool streamFinished() const;
    int streamDropped() const;
    static constexpr int kStreamQueue = 6;
    static constexpr int kLeastStreamQueue = 2;
    static constexpr qint64 kStreamQueueBytes = 72LL * 1024 * 1024;

signals:
    void opened(const framix::MediaInfo& info);
    void indexProgress(int percent);
    // The open file's frames are numbered anew (frame count and times in `info` and
    // frameTimesMs()): the index first used was found to differ from the decoder's.
    void indexChanged(const framix::MediaInfo& info);
    // The background check of the open file's index finished and found it right.
    void indexChecked();
    void frameReady(const framix::VideoFrame& frame, const QImage& image);
    void errorOccurred(const framix::EngineError& error);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace framix
