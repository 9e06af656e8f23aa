#pragma once

#include "engineerror.h"

#include <QString>

#include <atomic>
#include <functional>

namespace framix {

// Saves frames of a file as frame<N>.bmp in a folder (N = display-order frame number,
// decimal, no padding): every frame, or the frames from..to inclusive. Decoding runs on the
// calling thread; conversion and writing run on worker threads, so the three overlap.
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
        QString indexCacheDir; // for ranges, which use the frame index
        const std::atomic_bool* cancel = nullptr;
        // Called on the calling thread after each decoded frame: frames done and the total
        // (0 while the total is not known yet).
        std::function<void(int done, int total)> progress;
    };

    struct Result
    {
        int written = 0;
        int first = -1;
        int last = -1;
        // The failure was on the output side (the folder, or a frame file that could not be
        // written: the first one missing); the error's detail then names it.
        bool outputFailed = false;
    };

    // DIR/frame<number><extension>, with one separator whether or not DIR ends in one: the
    // name every capture of a range writes, from the program and from the command line.
    static QString frameFileName(const QString& dir, int number,
                                 const QString& extension = QStringLiteral(".bmp"));
    static bool run(const Options& options, Result* result, EngineError* error);
};

} // namespace framix
