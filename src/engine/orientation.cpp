#include "orientation_p.h"

#include "enginelog.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/display.h>
}

#include <cmath>

namespace framix {

Orientation orientationOf(const int32_t* m)
{
    Orientation o;
    if (!m)
        return o;
    // The angle as ffmpeg reads it: clockwise, rounded to whole degrees, in [0, 360).
    double theta = -std::round(av_display_rotation_get(m));
    if (std::isnan(theta))
        return o;
    theta -= 360 * std::floor(theta / 360 + 0.9 / 360);
    if (std::fabs(theta - 90) < 1.0) {
        o.rotation = 90;
        o.mirrored = m[3] > 0;
        o.filters = o.mirrored ? "transpose=cclock_flip" : "transpose=clock";
    } else if (std::fabs(theta - 270) < 1.0) {
        o.rotation = 270;
        o.mirrored = m[3] < 0;
        o.filters = o.mirrored ? "transpose=clock_flip" : "transpose=cclock";
    } else if (std::fabs(theta - 180) < 1.0) {
        const bool h = m[0] < 0, v = m[4] < 0;
        // Both flips are a half turn; one of them a mirror image (a vertical flip is a
        // half turn of a mirror image).
        o.rotation = v ? 180 : 0;
        o.mirrored = h != v;
        o.filters = h && v ? "hflip,vflip" : h ? "hflip" : v ? "vflip" : "";
    } else if (std::fabs(theta) < 1.0) {
        if (m[4] < 0) {
            o.rotation = 180;
            o.mirrored = true;
            o.filters = "vflip";
        }
    } else {
        qCInfo(lcEngine) << "display rotation of" << theta
                         << "degrees is not a quarter turn; the picture is shown as stored";
    }
    return o;
}

AVColorSpace untaggedColorSpace(int width, int height, SourceOptions::Matrix matrix)
{
    switch (matrix) {
    case SourceOptions::Matrix::Bt601:
        return AVCOL_SPC_SMPTE170M;
    case SourceOptions::Matrix::Bt709:
        return AVCOL_SPC_BT709;
    case SourceOptions::Matrix::Auto:
        break;
    }
    // HD by either side, as popular players decide: a 1920x800 film crop is HD too.
    return width >= 1280 || height > 576 ? AVCOL_SPC_BT709 : AVCOL_SPC_SMPTE170M;
}

void PicturePreparer::setup(const Orientation& orientation, SourceOptions::Matrix matrix)
{
    m_filter.release();
    m_orientation = orientation;
    m_matrix = matrix;
}

bool PicturePreparer::build(const AVFrame* f)
{
    // The decoder's threads are busy already; the filters only move pixels.
    const int err = m_filter.build(f, m_orientation.filters.constData(), 1);
    if (err < 0) {
        const QString last = takeLastFfmpegError();
        qCWarning(lcEngine).noquote()
            << "the picture cannot be turned upright (" << m_orientation.filters
            << "):" << (last.isEmpty() ? ff::errorText(err) : last);
        return false;
    }
    return true;
}

bool PicturePreparer::prepare(AVFrame* f)
{
    if (f->colorspace == AVCOL_SPC_UNSPECIFIED || f->colorspace == AVCOL_SPC_RESERVED) {
        const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(AVPixelFormat(f->format));
        if (desc && !(desc->flags & AV_PIX_FMT_FLAG_RGB))
            f->colorspace = untaggedColorSpace(f->width, f->height, m_matrix);
    }
    if (!m_orientation.turns())
        return true;
    if (!m_filter.takes(f) && !build(f))
        return false;
    ff::FramePtr in(av_frame_clone(f));
    ff::FramePtr out = ff::makeFrame();
    if (!in || !out)
        return false;
    int err = av_buffersrc_add_frame(m_filter.source(), in.get());
    if (err >= 0)
        err = av_buffersink_get_frame(m_filter.sink(), out.get());
    if (err < 0) {
        qCWarning(lcEngine) << "turning the picture failed:" << ff::errorText(err);
        m_filter.release();
        return false;
    }
    // A vertical flip only turns the row order around (negative line sizes); the rest of the
    // engine reads rows top down from positive strides, so such a picture is copied.
    bool negative = false;
    for (int i = 0; i < AV_NUM_DATA_POINTERS && out->data[i]; ++i)
        negative = negative || out->linesize[i] < 0;
    if (negative) {
        ff::FramePtr copy = ff::makeFrame();
        if (!copy)
            return false;
        copy->format = out->format;
        copy->width = out->width;
        copy->height = out->height;
        if (av_frame_get_buffer(copy.get(), 0) < 0 || av_frame_copy(copy.get(), out.get()) < 0 ||
            av_frame_copy_props(copy.get(), out.get()) < 0)
            return false;
        out = std::move(copy);
    }
    // The decoder's tag (the packet it came from) rides on; the filters keep it anyway.
    out->pts = f->pts;
    av_frame_unref(f);
    av_frame_move_ref(f, out.get());
    return true;
}

} // namespace framix
