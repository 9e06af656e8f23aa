#pragma once

#include "engineerror.h"
#include "scenedetector.h"
#include "sourceoptions.h"

#include <QString>

#include <atomic>
#include <functional>
#include <optional>
#include <vector>

namespace framix {

// Finds the frames of a range that start a new scene (see SceneDetector), by decoding every
// frame of the range in order: the first frame of the range, and each frame whose picture
// differs from the one before it by more than the threshold. Frame numbers are the frame
// index's, the numbers every other capture uses. Runs on the calling thread.
struct SceneScan
{
    QString input;
    int from = 0;
    int to = -1; // -1: to the last frame
    double threshold = SceneDetector::kDefaultThreshold;
    QString indexCacheDir; // empty: the default one
    SourceOptions video;   // which video stream, turned upright or not
    const std::atomic_bool* cancel = nullptr;
    // Called after each frame: frames looked at and how many the range holds.
    std::function<void(int done, int total)> progress;

    // nullopt with the reason (Code::Cancelled when cancelled).
    std::optional<std::vector<int>> run(EngineError* error) const;
};

} // namespace framix
