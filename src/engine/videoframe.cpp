#include "videoframe_p.h"

#include <QCryptographicHash>

namespace framix {

VideoFrame makeVideoFrame(AVFrame* frame, int number, qint64 timeMs)
{
    AVFrame* own = av_frame_alloc();
    if (!own)
        return {};
    av_frame_move_ref(own, frame);
    return VideoFrame(std::make_shared<const VideoFrame::Data>(own, number, timeMs));
}

int VideoFrame::number() const
{
    return m_data ? m_data->number : -1;
}

qint64 VideoFrame::timeMs() const
{
    return m_data ? m_data->timeMs : 0;
}

int VideoFrame::width() const
{
    return m_data ? m_data->frame->width : 0;
}

int VideoFrame::height() const
{
    return m_data ? m_data->frame->height : 0;
}

QString VideoFrame::pixelFormatName() const
{
    if (!m_data)
        return {};
    const char* name = av_get_pix_fmt_name(static_cast<AVPixelFormat>(m_data->frame->format));
    return name ? QString::fromUtf8(name) : QString();
}

qint64 VideoFrame::memoryBytes() const
{
    if (!m_data)
        return 0;
    qint64 total = 0;
    for (AVBufferRef* buf : m_data->frame->buf)
        if (buf)
            total += buf->size;
    return total;
}

int VideoFrame::rawSize() const
{
    if (!m_data)
        return 0;
    const AVFrame* f = m_data->frame;
    return av_image_get_buffer_size(static_cast<AVPixelFormat>(f->format), f->width, f->height, 1);
}

QByteArray VideoFrame::rawMd5() const
{
    const int size = rawSize();
    if (size <= 0)
        return {};
    const AVFrame* f = m_data->frame;
    QByteArray packed(size, Qt::Uninitialized);
    av_image_copy_to_buffer(reinterpret_cast<uint8_t*>(packed.data()), size, f->data, f->linesize,
                            static_cast<AVPixelFormat>(f->format), f->width, f->height, 1);
    return QCryptographicHash::hash(packed, QCryptographicHash::Md5).toHex();
}

} // namespace framix
