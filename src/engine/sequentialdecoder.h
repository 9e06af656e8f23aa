#pragma once

#include "engineerror.h"
#include "mediainfo.h"
#include "sourceoptions.h"
#include "videoframe.h"

#include <atomic>
#include <memory>
#include <optional>

namespace framix {

// Reads every frame of a file's video from the start, in display order, numbered from 0
// exactly as VideoSource numbers them (both count what the decoder outputs while reading
// the file from the beginning), without building an index first. For whole-file work:
// checksums, capturing every frame. Not thread-safe.
class SequentialDecoder
{
public:
    SequentialDecoder();
    ~SequentialDecoder();
    SequentialDecoder(const SequentialDecoder&) = delete;
    SequentialDecoder& operator=(const SequentialDecoder&) = delete;

    bool open(const QString& path, EngineError* error, const std::atomic_bool* cancel = nullptr,
              const SourceOptions& source = {});
    // Container-level facts; frameCount is 0 for video (unknown until the end).
    const MediaInfo& info() const;

    // The next frame, or nullopt at the end of the stream. Frames carry the container's
    // presentation timestamp (best effort) in timeMs.
    std::optional<VideoFrame> next();
    // Why next() returned nothing when it never returned a frame (see the log for more).
    EngineError failureReason() const;
    // After next() returned nothing: why the frames ended before the end of the file (a
    // read error, the file shrank or was changed meanwhile), or "" when they did not.
    QString earlyEnd() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace framix
