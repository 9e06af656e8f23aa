#pragma once

#include "videoframe.h"

namespace framix {

// What the decoder says about a frame besides its picture.
struct FrameDetails
{
    // The coded picture's type as one letter: 'I', 'P', 'B' (also 'S', 'i', 'p', 'b' as
    // FFmpeg names them), '?' when the decoder does not say.
    char pictureType = '?';
    // Bits per colour component of the decoded picture (8 for most video, 10 for HDR).
    int bitsPerComponent = 8;
    // The transfer is PQ (SMPTE ST 2084) or HLG (ARIB STD-B67): high dynamic range.
    bool hdr = false;
};

FrameDetails frameDetails(const VideoFrame& frame);

} // namespace framix
