#pragma once

#include "videoframe.h"

#include <QImage>

#include <memory>

namespace framix {

// Turns decoded frames into RGB pictures at their stored size (no scaling), honouring the
// stream's colour matrix (BT.601, BT.709, ...) and range (limited or full). A stream that
// does not say which matrix it uses gets BT.709 from 720 lines up and BT.601 below, the
// usual convention for untagged SD and HD video. Keeps a conversion context between calls:
// use one converter per thread.
//
// With tone mapping on, high dynamic range frames (PQ or HLG transfer, which look washed
// out when their values are shown as they are) become Tonemapper's standard dynamic range
// pictures instead; other frames are converted exactly as with it off.
class FrameConverter
{
public:
    FrameConverter();
    ~FrameConverter();
    FrameConverter(const FrameConverter&) = delete;
    FrameConverter& operator=(const FrameConverter&) = delete;

    // Off by default. Takes effect from the next conversion.
    void setTonemap(bool on);
    bool tonemap() const;

    // QImage::Format_BGR888, the byte order of a bitmap file's rows, so writing it as a BMP
    // is a plain copy; the pixels are those of ffmpeg's own conversion of the frame. A null
    // image when the frame cannot be converted. Every picture that is saved, copied or
    // shown comes from here.
    QImage toBgrImage(const VideoFrame& frame);
    // QImage::Format_RGB32, the layout the screen takes without a further conversion, for
    // display: exactly the pixels of toBgrImage(), tone-mapped ones included.
    QImage toDisplayImage(const VideoFrame& frame);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace framix
