#include "audiodecoder.h"

#include "enginelog.h"
#include "ffmpeg_p.h"

extern "C" {
#include <libswresample/swresample.h>
}

#include <QFileInfo>

namespace framix {

struct AudioDecoder::Private
{
    ff::FormatPtr format;
    ff::CodecPtr decoder;
    SwrContext* swr = nullptr;
    int stream = -1;
    int rate = 0;
    int channels = 0;
    qint64 nextUs = 0; // time of the next sample, when the stream gives no timestamps
    bool drained = false;
    ff::PacketPtr pkt = ff::makePacket();
    ff::FramePtr frm = ff::makeFrame();

    ~Private() { swr_free(&swr); }
    bool convert(AVFrame* f, QByteArray* out, qint64* startUs);
};

AudioDecoder::AudioDecoder() : d(std::make_unique<Private>()) {}
AudioDecoder::~AudioDecoder() = default;

bool AudioDecoder::open(const QString& path, EngineError* error)
{
    installFfmpegLogHandler();
    d = std::make_unique<Private>();
    if (!QFileInfo(path).isFile())
        return fail(error, EngineError::Code::NotFound, path);
    AVFormatContext* fmt = nullptr;
    int err = avformat_open_input(&fmt, path.toUtf8().constData(), nullptr, nullptr);
    if (err < 0)
        return fail(error, EngineError::Code::NotMedia, ff::errorText(err));
    d->format.reset(fmt);
    avformat_find_stream_info(fmt, nullptr);
    const AVCodec* codec = nullptr;
    d->stream = av_find_best_stream(fmt, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (d->stream < 0)
        return fail(error, EngineError::Code::NoStreams, QStringLiteral("no audio stream"));
    if (!codec)
        return fail(
            error, EngineError::Code::UnsupportedCodec,
            QString::fromUtf8(avcodec_get_name(fmt->streams[d->stream]->codecpar->codec_id)));
    for (unsigned i = 0; i < fmt->nb_streams; ++i)
        fmt->streams[i]->discard = int(i) == d->stream ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    d->decoder.reset(avcodec_alloc_context3(codec));
    avcodec_parameters_to_context(d->decoder.get(), fmt->streams[d->stream]->codecpar);
    d->decoder->pkt_timebase = fmt->streams[d->stream]->time_base;
    err = avcodec_open2(d->decoder.get(), codec, nullptr);
    if (err < 0)
        return fail(error, EngineError::Code::UnsupportedCodec, ff::errorText(err));
    d->rate = d->decoder->sample_rate;
    d->channels = qBound(1, d->decoder->ch_layout.nb_channels, 2);
    if (d->rate <= 0)
        return fail(error, EngineError::Code::UnsupportedCodec, QStringLiteral("no sample rate"));
    return true;
}

bool AudioDecoder::isOpen() const
{
    return d->decoder != nullptr;
}

int AudioDecoder::sampleRate() const
{
    return d->rate;
}

int AudioDecoder::channels() const
{
    return d->channels;
}

bool AudioDecoder::Private::convert(AVFrame* f, QByteArray* out, qint64* startUs)
{
    if (!swr) {
        AVChannelLayout outLayout;
        av_channel_layout_default(&outLayout, channels);
        const int err =
            swr_alloc_set_opts2(&swr, &outLayout, AV_SAMPLE_FMT_S16, rate, &f->ch_layout,
                                static_cast<AVSampleFormat>(f->format), f->sample_rate, 0, nullptr);
        av_channel_layout_uninit(&outLayout);
        if (err < 0 || swr_init(swr) < 0) {
            qCWarning(lcEngine) << "audio resampler setup failed";
            swr_free(&swr);
            return false;
        }
    }
    const AVRational tb = format->streams[stream]->time_base;
    if (f->best_effort_timestamp != AV_NOPTS_VALUE)
        nextUs = av_rescale_q(f->best_effort_timestamp, tb, AVRational{1, 1000000});
    *startUs = nextUs;
    const int maxOut = swr_get_out_samples(swr, f->nb_samples);
    const int old = int(out->size());
    out->resize(old + maxOut * channels * 2);
    auto* dst = reinterpret_cast<uint8_t*>(out->data() + old);
    const int got = swr_convert(swr, &dst, maxOut, const_cast<const uint8_t**>(f->extended_data),
                                f->nb_samples);
    out->resize(old + qMax(got, 0) * channels * 2);
    nextUs += qint64(f->nb_samples) * 1000000 / qMax(1, f->sample_rate);
    return got >= 0;
}

bool AudioDecoder::decode(QByteArray* out, qint64* startUs)
{
    if (!d->decoder)
        return false;
    for (;;) {
        const int r = avcodec_receive_frame(d->decoder.get(), d->frm.get());
        if (r >= 0) {
            const bool ok = d->convert(d->frm.get(), out, startUs);
            av_frame_unref(d->frm.get());
            if (ok)
                return true;
            continue;
        }
        if (r == AVERROR_EOF || d->drained)
            return false;
        const int err = av_read_frame(d->format.get(), d->pkt.get());
        if (err < 0) {
            avcodec_send_packet(d->decoder.get(), nullptr);
            d->drained = true;
            continue;
        }
        if (d->pkt->stream_index == d->stream)
            avcodec_send_packet(d->decoder.get(), d->pkt.get());
        av_packet_unref(d->pkt.get());
    }
}

bool AudioDecoder::seek(qint64 ms)
{
    if (!d->decoder)
        return false;
    const AVRational tb = d->format->streams[d->stream]->time_base;
    const qint64 ts = av_rescale_q(ms, AVRational{1, 1000}, tb);
    const int err = av_seek_frame(d->format.get(), d->stream, ts, AVSEEK_FLAG_BACKWARD);
    avcodec_flush_buffers(d->decoder.get());
    if (d->swr)
        swr_init(d->swr); // drop samples buffered for the old position
    d->drained = false;
    d->nextUs = ms * 1000;
    return err >= 0;
}

} // namespace framix
