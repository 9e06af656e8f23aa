#include "framedetails.h"

#include "videoframe_p.h"

namespace framix {

FrameDetails frameDetails(const VideoFrame& frame)
{
    FrameDetails details;
    if (frame.isNull())
        return details;
    const AVFrame* f = frame.data()->frame;
    details.pictureType = av_get_picture_type_char(f->pict_type);
    if (const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(AVPixelFormat(f->format)))
        details.bitsPerComponent = desc->comp[0].depth;
    details.hdr = f->color_trc == AVCOL_TRC_SMPTE2084 || f->color_trc == AVCOL_TRC_ARIB_STD_B67;
    return details;
}

} // namespace framix
