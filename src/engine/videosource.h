#pragma once

#include "engineerror.h"
#include "frameindex.h"
#include "mediainfo.h"
#include "sourceoptions.h"
#include "videoframe.h"

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

namespace framix {

// Frame-exact random access to one file's video: frame(n) returns the n-th frame in display
// order, bit for bit what a decoder reading the file from the start produces.
//
// Opening builds the frame index (one decoding pass) or loads it from the per-user cache
// when the file is unchanged. A request decodes forward without seeking when the target
// is ahead and near; otherwise it seeks to the target's start keyframe, identifies the
// packets it lands on, and decodes forward, skipping pictures no other picture refers to
// on the way. Stepping backwards decodes a window of frames before the target into the
// frame cache, so the next steps back are cache hits.
//
// Not thread-safe: one thread owns a VideoSource (FrameServer runs one on a worker thread).
// Blocking calls may take as long as decoding a GOP.
class VideoSource
{
public:
    struct Options
    {
        // Where index files go; empty means defaultIndexCacheDir().
        QString indexCacheDir;
        bool useIndexCache = true;
        // Called with 0..100 while the index is built.
        std::function<void(int percent)> progress;
        // Opening stops with Code::Cancelled when this becomes true.
        const std::atomic_bool* cancel = nullptr;
        // Index from the container's timestamps, without decoding, where that provably
        // gives the decoder's numbering (see scanIndex in the source); false always decodes.
        bool fastIndex = true;
        // Which video stream, turned upright or not, untagged colours read how.
        SourceOptions source;
    };

    // Counters for tests and benchmarks.
    struct Stats
    {
        int seeks = 0;         // container seeks (including rewinds)
        int decodedFrames = 0; // frames the decoder output
        int cacheHits = 0;
        int backoffs = 0; // start points that failed and were retried earlier
        bool indexFromCache = false;
        bool indexFromScan = false; // made from timestamps, checked against every decode
        int reindexed = 0;          // times such an index disagreed with the decoder
    };

    VideoSource();
    ~VideoSource();
    VideoSource(const VideoSource&) = delete;
    VideoSource& operator=(const VideoSource&) = delete;

    bool open(const QString& path, EngineError* error, const Options& options);
    bool open(const QString& path, EngineError* error) { return open(path, error, Options{}); }
    void close();
    bool isOpen() const;

    const MediaInfo& info() const;
    const FrameIndex& index() const;
    int frameCount() const;

    // Frame n (0-based, display order). Null result plus *error on failure.
    std::optional<VideoFrame> frame(int n, EngineError* error = nullptr);

    // Changes SourceOptions::deinterlace of the open file without opening it again: the
    // frames cached with the other setting are forgotten.
    void setDeinterlace(bool on);
    bool deinterlace() const;

    // Memory the decoded-frame cache may hold. Negative (the default): as much as suits the
    // size of the open file's pictures (FrameCache::limitFor). Kept across open and close.
    void setCacheLimit(qint64 bytes);
    qint64 cacheLimit() const;
    qint64 cacheBytes() const;

    const Stats& stats() const;
    void resetStats();

    // An index made without decoding is checked by every decode as it goes; the whole file
    // is checked by comparing it with the decoder's own index, made elsewhere (a background
    // thread) with indexByDecoding(). False while such an index has not been checked.
    bool indexChecked() const;
    // Takes the decoder's index of the open file: when it numbers the frames as the current
    // one does, the current one counts as checked (and goes to the cache); otherwise the
    // difference is logged and the decoder's replaces it. Returns whether they agreed.
    bool checkIndex(FrameIndex decoded);
    static std::optional<FrameIndex> indexByDecoding(const QString& path,
                                                     const std::atomic_bool* cancel,
                                                     EngineError* error,
                                                     const SourceOptions& source = {});

    // $XDG_CACHE_HOME/framix/index (usually ~/.cache/framix/index).
    static QString defaultIndexCacheDir();
    // The cache file used for `mediaPath`'s default video stream, or for the stream of that
    // index when it is another.
    static QString indexCacheFile(const QString& mediaPath, const QString& cacheDir,
                                  int otherStream = -1);

private:
    std::optional<VideoFrame> fetch(int n, EngineError* error);
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace framix
