#pragma once
// Private to the engine: what a VideoFrame holds.

#include "ffmpeg_p.h"
#include "videoframe.h"

namespace framix {

struct VideoFrame::Data
{
    Data(AVFrame* f, int n, qint64 ms) : frame(f), number(n), timeMs(ms) {}
    ~Data() { av_frame_free(&frame); }
    Data(const Data&) = delete;
    Data& operator=(const Data&) = delete;

    AVFrame* frame; // owned reference
    int number;
    qint64 timeMs;
};

// Takes over `frame`'s reference (leaving `frame` empty) into a new VideoFrame.
VideoFrame makeVideoFrame(AVFrame* frame, int number, qint64 timeMs);

} // namespace framix
