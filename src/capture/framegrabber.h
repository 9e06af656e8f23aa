#pragma once

#include "engineerror.h"
#include "imagewriter.h"
#include "scenedetector.h"
#include "sourceoptions.h"

#include <QString>

#include <atomic>
#include <functional>

namespace framix {

// Saves frames of a file as pictures in a folder, by default frame<N>.bmp (N = display-order
// frame number, decimal, no padding): every frame, or the frames from..to inclusive, or a
// choice of them (every N-th, the keyframes, the first frame of each scene), in any of the
// ImageWriter formats, with an optional CSV list of what was written. Decoding runs on the
// calling thread; conversion, encoding and writing run on worker threads, so they overlap.
// Each file appears whole or not at all. The first frame that cannot be written stops the
// run; files written before it stay.
class FrameGrabber
{
public:
    struct Options
    {
        QString input;
        QString outDir;
        int from = -1;         // -1: from the first frame
        int to = -1;           // -1: to the last frame
        QString indexCacheDir; // for everything that uses the frame index
        SourceOptions source;  // which video stream, turned upright or not
        const std::atomic_bool* cancel = nullptr;
        // Called on the calling thread after each frame looked at: frames done and the
        // total (0 while the total is not known).
        std::function<void(int done, int total)> progress;

        // Which frames of from..to are saved: all of them; every N-th (from, from + N, ...);
        // the keyframes (the frames decoding can start at: the index's key packets); or the
        // first frame and each frame that starts a new scene (see SceneDetector). At most
        // one of every > 1, keyframes and scenes.
        int every = 1;
        bool keyframes = false;
        bool scenes = false;
        double sceneThreshold = SceneDetector::kDefaultThreshold;

        // Format and making of the pictures. The sample aspect ratio is the file's.
        ImageOptions image;
        // File names without the extension, a FrameNamer template; empty: frame{frame}.
        QString nameTemplate;
        // When not empty, a CSV file listing the frames written, one line each, under the
        // header frame,time,pts,keyframe,type,file: the frame number, its presentation time
        // in seconds (three decimals), its timestamp in the stream's time base (empty when
        // the container gives none; the time is then estimated from the frame rate),
        // keyframe 1 or 0 as above, the picture type the decoder reports (I, P, B) and the
        // file name. Written atomically at the end, also after a failure or interruption.
        QString csvPath;
    };

    struct Result
    {
        int written = 0;
        int first = -1; // frame numbers of the first and the last frame handed to the writers
        int last = -1;
        QString firstFile; // their file names (without the folder)
        QString lastFile;
        int scanned = 0;    // frames decoded to choose from (scenes)
        int tonemapped = 0; // pictures that were tone-mapped from HDR
        int deep = 0;       // pictures written with 16 bits per channel
        // The failure was on the output side (the folder, a frame file that could not be
        // written: the first one missing, or the CSV file); the error's detail then names it.
        bool outputFailed = false;
    };

    // DIR/<fileName>, with one separator whether or not DIR ends in one: where every
    // capture of a range writes a frame's file, from the program and from the command line.
    static QString framePath(const QString& dir, const QString& fileName);
    // Why the run would write over something it reads or writes itself, or "" when it would
    // not: the frame list that is the input video, a folder, a device or one of the run's
    // own pictures; a picture name that is the input's. run() checks it before anything
    // else; callers may ask first to refuse the command line.
    static QString outputConflict(const Options& options);
    static bool run(const Options& options, Result* result, EngineError* error);
};

} // namespace framix
