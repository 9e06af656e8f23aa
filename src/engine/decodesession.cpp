#include "decodesession_p.h"

#include "enginelog.h"
#include "framememory.h"

#include <QFile>
#include <QFileInfo>
#include <QVector>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavutil/cpu.h>
}

namespace framix {

namespace {

// The decoder's frame threads: a picture each, no more than this memory in all, and
// between these counts (FFmpeg advises against more than 16). Two threads still decode
// 4K faster than it plays, and step back faster than three (less of a pipeline to fill).
constexpr qint64 kDecoderPictureBytes = 32LL * 1024 * 1024;
constexpr int kLeastFrameThreads = 2;
constexpr int kMostFrameThreads = 16;

EngineError::Code codeForOpenError(int err)
{
    if (err == AVERROR(ENOENT))
        return EngineError::Code::NotFound;
    if (err == AVERROR(EACCES) || err == AVERROR(EPERM))
        return EngineError::Code::PermissionDenied;
    if (err == AVERROR(EISDIR))
        return EngineError::Code::IsDirectory;
    if (err == AVERROR_INVALIDDATA || err == AVERROR_EOF || err == AVERROR_DEMUXER_NOT_FOUND)
        return EngineError::Code::NotMedia;
    if (err == AVERROR_EXIT)
        return EngineError::Code::Cancelled;
    return EngineError::Code::IoError;
}

} // namespace

QVector<int> videoStreamsOf(const AVFormatContext* ctx)
{
    // Cover art (a still picture attached to the file) is not video.
    QVector<int> streams;
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        const AVStream* st = ctx->streams[i];
        if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
            !(st->disposition & AV_DISPOSITION_ATTACHED_PIC))
            streams << int(i);
    }
    return streams;
}

int defaultVideoStreamOf(const AVFormatContext* ctx)
{
    // As players choose: the one the container marks as the default, else the first. Streams
    // without a known codec or picture size (a broadcast's announced but empty service) come
    // after those with.
    const QVector<int> streams = videoStreamsOf(ctx);
    int best = -1, bestScore = -1;
    for (const int i : streams) {
        const AVCodecParameters* par = ctx->streams[i]->codecpar;
        const int score = (par->codec_id != AV_CODEC_ID_NONE && par->width > 0 ? 2 : 0) +
                          ((ctx->streams[i]->disposition & AV_DISPOSITION_DEFAULT) ? 1 : 0);
        if (score > bestScore) {
            best = i;
            bestScore = score;
        }
    }
    return best;
}

EngineError noPictureError()
{
    const QString logged = takeLastFfmpegError();
    if (logged.contains(QLatin1String("Picture size")))
        return EngineError{EngineError::Code::PictureTooLarge, logged};
    QString detail = QStringLiteral("no picture of this file could be decoded");
    if (!logged.isEmpty())
        detail += QStringLiteral(" (") + logged + QLatin1Char(')');
    return EngineError{EngineError::Code::DecodeFailed, detail};
}

QString describeVideoCodec(int codecId)
{
    switch (static_cast<AVCodecID>(codecId)) {
    case AV_CODEC_ID_MPEG1VIDEO:
        return QStringLiteral("MPEG-1 video");
    case AV_CODEC_ID_MPEG2VIDEO:
        return QStringLiteral("MPEG-2 video");
    case AV_CODEC_ID_MPEG4:
        return QStringLiteral("MPEG-4 video");
    case AV_CODEC_ID_H264:
        return QStringLiteral("H.264 video");
    case AV_CODEC_ID_HEVC:
        return QStringLiteral("H.265 video");
    case AV_CODEC_ID_WMV1:
        return QStringLiteral("WMV7 video");
    case AV_CODEC_ID_WMV2:
        return QStringLiteral("WMV8 video");
    case AV_CODEC_ID_WMV3:
        return QStringLiteral("WMV9 video");
    case AV_CODEC_ID_VC1:
        return QStringLiteral("VC-1 video");
    case AV_CODEC_ID_MSMPEG4V3:
        return QStringLiteral("MS MPEG-4 v3 video");
    case AV_CODEC_ID_MJPEG:
        return QStringLiteral("Motion JPEG video");
    case AV_CODEC_ID_VP8:
        return QStringLiteral("VP8 video");
    case AV_CODEC_ID_VP9:
        return QStringLiteral("VP9 video");
    case AV_CODEC_ID_AV1:
        return QStringLiteral("AV1 video");
    case AV_CODEC_ID_RAWVIDEO:
        return QStringLiteral("uncompressed video");
    default:
        break;
    }
    const AVCodecDescriptor* d = avcodec_descriptor_get(static_cast<AVCodecID>(codecId));
    return (d ? QString::fromUtf8(d->name).toUpper() : QStringLiteral("unknown")) +
           QStringLiteral(" video");
}

QString describeAudioCodec(int codecId)
{
    const auto id = static_cast<AVCodecID>(codecId);
    switch (id) {
    case AV_CODEC_ID_MP1:
        return QStringLiteral("MP1 audio");
    case AV_CODEC_ID_MP2:
        return QStringLiteral("MP2 audio");
    case AV_CODEC_ID_MP3:
        return QStringLiteral("MP3 audio");
    case AV_CODEC_ID_AAC:
        return QStringLiteral("AAC audio");
    case AV_CODEC_ID_AC3:
        return QStringLiteral("AC-3 audio");
    case AV_CODEC_ID_EAC3:
        return QStringLiteral("E-AC-3 audio");
    case AV_CODEC_ID_WMAV1:
    case AV_CODEC_ID_WMAV2:
        return QStringLiteral("WMA audio");
    case AV_CODEC_ID_WMAPRO:
        return QStringLiteral("WMA Pro audio");
    case AV_CODEC_ID_VORBIS:
        return QStringLiteral("Vorbis audio");
    case AV_CODEC_ID_OPUS:
        return QStringLiteral("Opus audio");
    case AV_CODEC_ID_FLAC:
        return QStringLiteral("FLAC audio");
    default:
        break;
    }
    const AVCodecDescriptor* d = avcodec_descriptor_get(id);
    if (d && QByteArray(d->name).startsWith("pcm_"))
        return QStringLiteral("PCM audio");
    return (d ? QString::fromUtf8(d->name).toUpper() : QStringLiteral("unknown")) +
           QStringLiteral(" audio");
}

int DecodeSession::interruptCallback(void* opaque)
{
    auto* self = static_cast<DecodeSession*>(opaque);
    return self->m_cancel && self->m_cancel->load(std::memory_order_relaxed) ? 1 : 0;
}

bool DecodeSession::open(const QString& path, EngineError* error, const std::atomic_bool* cancel,
                         const SourceOptions& options)
{
    installFfmpegLogHandler();
    closeInput();
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_path = path;
    m_options = options;
    m_cancel = cancel;
    // Opened once and kept: everything read later (seeks that start again from the top
    // included) goes through this descriptor, whatever happens to the name meanwhile. Not
    // blocking, since opening a pipe waits for a writer.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        const int e = errno;
        if (e == ENOENT)
            return fail(error, EngineError::Code::NotFound, path);
        if (e == EACCES || e == EPERM)
            return fail(error, EngineError::Code::PermissionDenied, path);
        // What the system said: a loop of symbolic links, a name too long, ...
        return fail(error, EngineError::Code::IoError,
                    path + QStringLiteral(": ") + QString::fromLocal8Bit(strerror(e)));
    }
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        return fail(error, EngineError::Code::IsDirectory, path);
    }
    m_readError.clear();
    if (S_ISREG(st.st_mode)) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        m_fd = fd;
        m_size = st.st_size;
        m_mtimeNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    } else {
        ::close(fd); // a pipe or device is read by its name, as libavformat reads it
    }
    if (!openContainer(error))
        return false;
    return !hasVideo() || openDecoder(error);
}

DecodeSession::~DecodeSession()
{
    m_decoder.reset();
    closeInput();
    if (m_fd >= 0)
        ::close(m_fd);
}

void DecodeSession::closeInput()
{
    m_format.reset();
    if (m_io) {
        av_freep(&m_io->buffer);
        avio_context_free(&m_io);
    }
}

int DecodeSession::readFile(void* opaque, uint8_t* buffer, int size)
{
    auto* self = static_cast<DecodeSession*>(opaque);
    for (;;) {
        const ssize_t n = ::pread(self->m_fd, buffer, size_t(size), off_t(self->m_pos));
        if (n < 0 && errno == EINTR) {
            if (interruptCallback(opaque))
                return AVERROR_EXIT;
            continue;
        }
        if (n < 0)
            return AVERROR(errno);
        if (n == 0)
            return AVERROR_EOF;
        self->m_pos += n;
        return int(n);
    }
}

int64_t DecodeSession::seekFile(void* opaque, int64_t offset, int whence)
{
    auto* self = static_cast<DecodeSession*>(opaque);
    struct stat st = {};
    if ((whence & ~AVSEEK_FORCE) == AVSEEK_SIZE)
        return ::fstat(self->m_fd, &st) == 0 ? int64_t(st.st_size) : AVERROR(errno);
    switch (whence & ~AVSEEK_FORCE) {
    case SEEK_SET:
        break;
    case SEEK_CUR:
        offset += self->m_pos;
        break;
    case SEEK_END:
        if (::fstat(self->m_fd, &st) != 0)
            return AVERROR(errno);
        offset += st.st_size;
        break;
    default:
        return AVERROR(EINVAL);
    }
    if (offset < 0)
        return AVERROR(EINVAL);
    self->m_pos = offset;
    return offset;
}

bool DecodeSession::openContainer(EngineError* error)
{
    closeInput();
    AVFormatContext* ctx = avformat_alloc_context();
    if (!ctx)
        return fail(error, EngineError::Code::IoError, QStringLiteral("out of memory"));
    if (m_fd >= 0) {
        constexpr int kBuffer = 64 * 1024;
        auto* buffer = static_cast<unsigned char*>(av_malloc(kBuffer));
        m_io = buffer ? avio_alloc_context(buffer, kBuffer, 0, this, &DecodeSession::readFile,
                                           nullptr, &DecodeSession::seekFile)
                      : nullptr;
        if (!m_io) {
            av_free(buffer);
            avformat_free_context(ctx);
            return fail(error, EngineError::Code::IoError, QStringLiteral("out of memory"));
        }
        m_pos = 0;
        ctx->pb = m_io;
    }
    ctx->interrupt_callback.callback = &DecodeSession::interruptCallback;
    ctx->interrupt_callback.opaque = this;
    // With the file read through its descriptor, the name still tells the format by its
    // extension where the content does not.
    const QByteArray name = QFile::encodeName(m_path);
    takeLastFfmpegError();
    int err = avformat_open_input(&ctx, name.constData(), nullptr, nullptr);
    if (err < 0) { // avformat_open_input frees ctx on failure
        // Raw-video headers (YUV4MPEG) that claim an impossible picture fail inside
        // libavutil's size check with an unrelated error code; its log line says what happened.
        const QString logged = takeLastFfmpegError();
        if (logged.contains(QLatin1String("Picture size")))
            return fail(error, EngineError::Code::PictureTooLarge, logged);
        EngineError::Code code = codeForOpenError(err);
        if (code == EngineError::Code::IoError && !logged.isEmpty())
            code = EngineError::Code::NotMedia;
        return fail(error, code,
                    m_path + QStringLiteral(": ") +
                        (logged.isEmpty() ? ff::errorText(err) : logged));
    }
    m_format.reset(ctx);

    // The sizes the headers claim, before probing: probing decodes a little, and a decoder
    // that refuses a huge picture leaves the stream with no size at all.
    QVector<qint64> claimedPixels;
    for (unsigned i = 0; i < ctx->nb_streams; ++i)
        claimedPixels << qint64(ctx->streams[i]->codecpar->width) *
                             ctx->streams[i]->codecpar->height;

    err = avformat_find_stream_info(ctx, nullptr);
    if (err < 0)
        qCInfo(lcEngine) << "stream info incomplete for" << m_path << ff::errorText(err);

    m_defaultVideo = defaultVideoStreamOf(ctx);
    int video = m_defaultVideo;
    if (m_options.stream >= 0) {
        const int asked = m_options.stream;
        if (asked >= int(ctx->nb_streams) ||
            ctx->streams[asked]->codecpar->codec_type != AVMEDIA_TYPE_VIDEO ||
            (ctx->streams[asked]->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
            QStringList videos;
            for (const int i : videoStreamsOf(ctx))
                videos << QString::number(i);
            return fail(error, EngineError::Code::NoStreams,
                        QStringLiteral("stream %1 is not a video stream (%2)")
                            .arg(asked)
                            .arg(videos.isEmpty() ? QStringLiteral("the file has none")
                                                  : QStringLiteral("the file's video streams: %1")
                                                        .arg(videos.join(QStringLiteral(", ")))));
        }
        video = asked;
    }
    const int audio = av_find_best_stream(ctx, AVMEDIA_TYPE_AUDIO, -1, video, nullptr, 0);
    if (m_decoder && video != m_videoIndex)
        return fail(error, EngineError::Code::IoError,
                    QStringLiteral("the file changed while it was open"));
    if (video >= 0 && video < claimedPixels.size() && claimedPixels[video] > kMaxPixels)
        return fail(error, EngineError::Code::PictureTooLarge,
                    m_path + QStringLiteral(": the picture is larger than 8192x8192"));
    m_videoIndex = video;
    m_audioIndex = audio >= 0 ? audio : -1;
    if (m_videoIndex < 0 && m_audioIndex < 0)
        return fail(error, EngineError::Code::NoStreams, m_path);

    m_orientation = Orientation{};
    if (video >= 0 && m_options.autorotate)
        m_orientation = orientationOf(reinterpret_cast<const int32_t*>(
            av_stream_get_side_data(ctx->streams[video], AV_PKT_DATA_DISPLAYMATRIX, nullptr)));
    m_preparer.setup(m_orientation, m_options.matrix);

    // This session reads only the picture; audio has a reader of its own.
    for (unsigned i = 0; i < ctx->nb_streams; ++i)
        ctx->streams[i]->discard = int(i) == m_videoIndex ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    return true;
}

bool DecodeSession::reopenContainer(EngineError* error)
{
    return openContainer(error);
}

bool DecodeSession::openDecoder(EngineError* error)
{
    const AVCodecParameters* par = videoStream()->codecpar;
    if (qint64(par->width) * par->height > kMaxPixels)
        return fail(error, EngineError::Code::PictureTooLarge,
                    QStringLiteral("%1x%2").arg(par->width).arg(par->height));
    const AVCodec* codec = avcodec_find_decoder(par->codec_id);
    if (!codec)
        return fail(error, EngineError::Code::UnsupportedCodec,
                    par->codec_id == AV_CODEC_ID_NONE
                        ? QStringLiteral("the video codec is not known")
                        : QStringLiteral("no decoder for %1 video")
                              .arg(QString::fromUtf8(avcodec_get_name(par->codec_id))));
    ff::CodecPtr ctx(avcodec_alloc_context3(codec));
    if (!ctx)
        return fail(error, EngineError::Code::IoError, QStringLiteral("out of memory"));
    int err = avcodec_parameters_to_context(ctx.get(), par);
    if (err < 0)
        return fail(error, EngineError::Code::UnsupportedCodec, ff::errorText(err));
    ctx->pkt_timebase = videoStream()->time_base;
    ctx->max_pixels = kMaxPixels;
    // Frame threads overlap whole pictures; slice threads help codecs without frame threading.
    // One more than the cores, as FFmpeg's own tools pick, but every frame thread holds a
    // picture of its own: large pictures get fewer of them (a dozen 4K pictures would be
    // 150 MB), never fewer than two.
    const qint64 pictureBytes = qint64(par->width) * par->height * 3 / 2;
    ctx->thread_count = m_oneThread
                            ? 1
                            : std::min(std::max(1, av_cpu_count()) + 1,
                                       picturesWithin(kDecoderPictureBytes, pictureBytes,
                                                      kLeastFrameThreads, kMostFrameThreads));
    ctx->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    err = avcodec_open2(ctx.get(), codec, nullptr);
    if (err < 0)
        return fail(error, EngineError::Code::UnsupportedCodec,
                    QStringLiteral("cannot open the %1 decoder: %2")
                        .arg(QString::fromUtf8(codec->name), ff::errorText(err)));
    m_decoder = std::move(ctx);
    return true;
}

bool DecodeSession::useOneThread(EngineError* error)
{
    if (m_oneThread || !m_decoder)
        return true;
    m_oneThread = true;
    return reopenDecoder(error);
}

bool DecodeSession::reopenDecoder(EngineError* error)
{
    if (!m_decoder)
        return true;
    ff::CodecPtr before = std::move(m_decoder);
    if (openDecoder(error))
        return true;
    m_decoder = std::move(before);
    return false;
}

AVStream* DecodeSession::videoStream() const
{
    return m_videoIndex >= 0 ? m_format->streams[m_videoIndex] : nullptr;
}

bool DecodeSession::readVideoPacket(AVPacket* packet)
{
    for (;;) {
        const int err = av_read_frame(m_format.get(), packet);
        if (err == AVERROR(EAGAIN))
            continue;
        if (err < 0) {
            if (err != AVERROR_EOF) {
                qCInfo(lcEngine) << "reading" << m_path << "ended:" << ff::errorText(err);
                if (err != AVERROR_EXIT)
                    m_readError = ff::errorText(err);
            }
            return false;
        }
        if (packet->stream_index == m_videoIndex)
            return true;
        av_packet_unref(packet);
    }
}

QString DecodeSession::earlyEnd() const
{
    struct stat st = {};
    if (m_fd >= 0 && ::fstat(m_fd, &st) == 0) {
        const qint64 mtime = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
        if (st.st_size < m_size)
            return QStringLiteral("the file shrank while it was read (from %1 to %2 bytes)")
                .arg(m_size)
                .arg(qint64(st.st_size));
        if (st.st_size != m_size || mtime != m_mtimeNs)
            return QStringLiteral("the file was changed while it was read");
    }
    if (!m_readError.isEmpty())
        return QStringLiteral("reading stopped before the end of the file: %1").arg(m_readError);
    return {};
}

quint32 DecodeSession::checksum(const AVPacket* packet)
{
    return packet->size > 0 ? av_adler32_update(1, packet->data, packet->size) : 0;
}

MediaInfo DecodeSession::probeInfo() const
{
    MediaInfo info;
    info.path = m_path;
    struct stat file = {};
    info.fileSize =
        m_fd >= 0 && ::fstat(m_fd, &file) == 0 ? qint64(file.st_size) : QFileInfo(m_path).size();
    const AVFormatContext* fmt = m_format.get();
    info.containerName = QString::fromUtf8(fmt->iformat->name);
    if (fmt->duration > 0)
        info.durationMs = (fmt->duration + 500) / 1000;
    if (m_videoIndex >= 0) {
        const AVStream* st = fmt->streams[m_videoIndex];
        info.hasVideo = true;
        info.videoStream = m_videoIndex;
        info.storedWidth = st->codecpar->width;
        info.storedHeight = st->codecpar->height;
        info.rotation = m_orientation.rotation;
        info.mirrored = m_orientation.mirrored;
        const bool swap = m_orientation.swapsAxes();
        info.width = swap ? info.storedHeight : info.storedWidth;
        info.height = swap ? info.storedWidth : info.storedHeight;
        AVRational sar = st->sample_aspect_ratio.num ? st->sample_aspect_ratio
                                                     : st->codecpar->sample_aspect_ratio;
        if (sar.num > 0 && sar.den > 0) {
            // A quarter turn turns the pixels' shape too.
            info.sampleAspectNum = swap ? sar.den : sar.num;
            info.sampleAspectDen = swap ? sar.num : sar.den;
        }
        const AVColorTransferCharacteristic trc = st->codecpar->color_trc;
        info.hdr = trc == AVCOL_TRC_SMPTE2084 || trc == AVCOL_TRC_ARIB_STD_B67;
        info.videoCodec = describeVideoCodec(st->codecpar->codec_id);
        const char* pix = av_get_pix_fmt_name(static_cast<AVPixelFormat>(st->codecpar->format));
        info.pixelFormat = pix ? QString::fromUtf8(pix) : QString();
        if (st->avg_frame_rate.num > 0 && st->avg_frame_rate.den > 0)
            info.frameRate = av_q2d(st->avg_frame_rate);
        else if (st->r_frame_rate.num > 0 && st->r_frame_rate.den > 0)
            info.frameRate = av_q2d(st->r_frame_rate);
    }
    for (const int i : videoStreamsOf(fmt)) {
        const AVStream* st = fmt->streams[i];
        MediaInfo::VideoStream v;
        v.index = i;
        v.codec = describeVideoCodec(st->codecpar->codec_id);
        v.width = st->codecpar->width;
        v.height = st->codecpar->height;
        v.isDefault = i == m_defaultVideo;
        for (const char* key : {"title", "service_name", "language"}) {
            const AVDictionaryEntry* e = av_dict_get(st->metadata, key, nullptr, 0);
            if (!e && fmt->nb_programs > 0) {
                // A broadcast names its services (programs), not their streams.
                for (unsigned p = 0; p < fmt->nb_programs && !e; ++p)
                    for (unsigned k = 0; k < fmt->programs[p]->nb_stream_indexes && !e; ++k)
                        if (int(fmt->programs[p]->stream_index[k]) == i)
                            e = av_dict_get(fmt->programs[p]->metadata, key, nullptr, 0);
            }
            if (e && e->value && *e->value) {
                v.title = QString::fromUtf8(e->value);
                break;
            }
        }
        info.videoStreams << v;
    }
    if (m_audioIndex >= 0) {
        const AVStream* st = fmt->streams[m_audioIndex];
        info.hasAudio = true;
        info.audioCodec = describeAudioCodec(st->codecpar->codec_id);
        info.audioSampleRate = st->codecpar->sample_rate;
        info.audioChannels = st->codecpar->ch_layout.nb_channels;
        if (info.durationMs <= 0 && st->duration > 0)
            info.durationMs = av_rescale_q(st->duration, st->time_base, AVRational{1, 1000});
    }
    if (!info.hasVideo) {
        info.frameRate = MediaInfo::kSoundOnlyFrameRate;
        info.frameCount = (info.durationMs * MediaInfo::kSoundOnlyFrameRate + 500) / 1000;
    }
    return info;
}

} // namespace framix
