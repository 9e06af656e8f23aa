#pragma once
// Private to the engine's .cpp files: FFmpeg headers and small RAII helpers around them.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/adler32.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <QString>
#include <memory>

namespace framix::ff {

inline QString errorText(int err)
{
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(err, buf, sizeof buf);
    return QString::fromUtf8(buf);
}

struct FrameDeleter
{
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketDeleter
{
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct CodecDeleter
{
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FormatDeleter
{
    void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};

using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecDeleter>;
using FormatPtr = std::unique_ptr<AVFormatContext, FormatDeleter>;

inline FramePtr makeFrame()
{
    return FramePtr(av_frame_alloc());
}
inline PacketPtr makePacket()
{
    return PacketPtr(av_packet_alloc());
}

// The full-range twins of FFmpeg's "J" formats (JPEG, MJPEG): swscale wants the plain
// format plus an explicit range.
inline AVPixelFormat plainFormat(AVPixelFormat f, bool* fullRange)
{
    switch (f) {
    case AV_PIX_FMT_YUVJ420P:
        *fullRange = true;
        return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P:
        *fullRange = true;
        return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P:
        *fullRange = true;
        return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P:
        *fullRange = true;
        return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P:
        *fullRange = true;
        return AV_PIX_FMT_YUV411P;
    default:
        return f;
    }
}

// The colour matrix a frame is read with: its own, or for untagged pictures BT.709 from 720
// lines up and BT.601 below.
inline int swsMatrix(const AVFrame* f)
{
    switch (f->colorspace) {
    case AVCOL_SPC_BT709:
        return SWS_CS_ITU709;
    case AVCOL_SPC_FCC:
        return SWS_CS_FCC;
    case AVCOL_SPC_SMPTE240M:
        return SWS_CS_SMPTE240M;
    case AVCOL_SPC_BT470BG:
    case AVCOL_SPC_SMPTE170M:
        return SWS_CS_ITU601;
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL:
        return SWS_CS_BT2020;
    default:
        // Pictures are named their matrix when decoded (PicturePreparer); this is the same
        // rule for any that were not.
        return f->width >= 1280 || f->height > 576 ? SWS_CS_ITU709 : SWS_CS_ITU601;
    }
}

// A swscale context whose ranges are given before it is initialised, as ffmpeg's own scale
// filter does: swscale picks its code paths at initialisation, and a range changed
// afterwards is not honoured the same way. Null when swscale has no such conversion.
inline SwsContext* makeScaler(int srcW, int srcH, AVPixelFormat src, bool srcFull, int dstW,
                              int dstH, AVPixelFormat dst, bool dstFull, int flags)
{
    SwsContext* ctx = sws_alloc_context();
    if (!ctx)
        return nullptr;
    av_opt_set_int(ctx, "srcw", srcW, 0);
    av_opt_set_int(ctx, "srch", srcH, 0);
    av_opt_set_int(ctx, "src_format", src, 0);
    av_opt_set_int(ctx, "dstw", dstW, 0);
    av_opt_set_int(ctx, "dsth", dstH, 0);
    av_opt_set_int(ctx, "dst_format", dst, 0);
    av_opt_set_int(ctx, "sws_flags", flags, 0);
    av_opt_set_int(ctx, "src_range", srcFull ? 1 : 0, 0);
    av_opt_set_int(ctx, "dst_range", dstFull ? 1 : 0, 0);
    if (sws_init_context(ctx, nullptr, nullptr) < 0) {
        sws_freeContext(ctx);
        return nullptr;
    }
    return ctx;
}

} // namespace framix::ff
