#pragma once

#include "videoframe.h"

#include <QString>

#include <memory>

namespace framix {

// Finds the frames that start a new scene with libavfilter's scene change detection, as
// ffmpeg's select='gt(scene,T)' does: each frame's score compares its picture with the
// previous one's (0 = the same picture, 1 = entirely different). Feed it the frames in
// display order, each once. Not thread-safe.
class SceneDetector
{
public:
    // A frame whose score is above `threshold` (0..1) starts a new scene.
    explicit SceneDetector(double threshold);
    ~SceneDetector();
    SceneDetector(const SceneDetector&) = delete;
    SceneDetector& operator=(const SceneDetector&) = delete;

    static constexpr double kDefaultThreshold = 0.3;

    // Whether `frame` starts a new scene: the first frame always does, and so does a frame
    // whose picture size or format differs from the one before it.
    bool startsScene(const VideoFrame& frame);
    // The score of the last frame that started a scene (0 for the first frame).
    double lastScore() const;
    // Why the detector stopped working (it then reports every frame as a new scene); empty
    // while it works.
    QString failure() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace framix
