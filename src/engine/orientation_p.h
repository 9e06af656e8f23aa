#pragma once
// Private to the engine: turning decoded pictures upright, and the colour matrix of pictures
// whose stream names none.

#include "ffmpeg_p.h"
#include "filtergraph_p.h"
#include "sourceoptions.h"

#include <QByteArray>

#include <cstdint>

namespace framix {

// What a display matrix asks of the stored picture, in the terms of ffmpeg's own
// autorotation: the same filters (transpose, hflip, vflip) in the same cases, so that the
// pixels are the ones ffmpeg gives.
struct Orientation
{
    int rotation = 0;      // degrees clockwise the picture is turned to be shown: 0, 90, 180, 270
    bool mirrored = false; // and mirrored
    QByteArray filters;    // libavfilter's chain that does it; empty for none

    bool swapsAxes() const { return rotation == 90 || rotation == 270; }
    bool turns() const { return !filters.isEmpty(); }
};

// Null or a 3x3 display matrix as libavutil stores it. Angles that are not a multiple of 90
// degrees are left alone.
Orientation orientationOf(const int32_t* matrix);

// The matrix a picture of this stored size is converted with when its stream names none.
AVColorSpace untaggedColorSpace(int width, int height, SourceOptions::Matrix matrix);

// Makes decoded pictures ready to be handed out: names the colour matrix of an untagged
// picture (decided on its stored size) and turns it upright. One per decoding thread.
class PicturePreparer
{
public:
    PicturePreparer() = default;
    PicturePreparer(const PicturePreparer&) = delete;
    PicturePreparer& operator=(const PicturePreparer&) = delete;

    void setup(const Orientation& orientation, SourceOptions::Matrix matrix);
    // In place; false (with the reason in the log) when the filters fail, and the picture is
    // then left as decoded.
    bool prepare(AVFrame* frame);

private:
    bool build(const AVFrame* f);

    Orientation m_orientation;
    SourceOptions::Matrix m_matrix = SourceOptions::Matrix::Auto;
    FilterGraph m_filter;
};

} // namespace framix
