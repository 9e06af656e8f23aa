#pragma once

#include "videoframe.h"

#include <QImage>
#include <QString>

#include <memory>

namespace framix {

// High dynamic range frames (PQ or HLG transfer) to standard dynamic range BT.709 pictures,
// with libavfilter's zscale and tonemap filters in the usual arrangement: to linear light
// with a nominal peak of 100 cd/m2, to BT.709 primaries, the Hable curve without
// desaturation, then the BT.709 transfer:
//   zscale=t=linear:npl=100,format=gbrpf32le,zscale=p=bt709,
//   tonemap=tonemap=hable:desat=0,zscale=t=bt709
// The filter graph is kept between frames of the same size and format. One per thread.
class Tonemapper
{
public:
    Tonemapper();
    ~Tonemapper();
    Tonemapper(const Tonemapper&) = delete;
    Tonemapper& operator=(const Tonemapper&) = delete;

    // The filters' chain, in ffmpeg's -vf syntax.
    static const char* chain();
    // A QImage::Format_BGR888 picture at the frame's stored size, or a null image with the
    // reason in *why.
    QImage toBgrImage(const VideoFrame& frame, QString* why = nullptr);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace framix
