#include "audiooutput.h"

#include "audiodecoder.h"

#include <QAudio>
#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QIODevice>
#include <QLoggingCategory>
#include <QMediaDevices>

namespace framix {

Q_LOGGING_CATEGORY(lcAudio, "framix.playback.audio", QtWarningMsg)

// Hands decoded samples to the sink as it asks for them. Decoding a chunk of compressed
// sound takes well under a millisecond, so it happens right here, on demand.
class AudioOutput::Feed : public QIODevice
{
public:
    explicit Feed(AudioDecoder* decoder) : m_decoder(decoder) {}

    // Drops samples before `fromUs` so the sound starts exactly where the picture does.
    void restart(qint64 fromUs)
    {
        m_pending.clear();
        m_skipUs = fromUs;
        m_ended = false;
    }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        const int frameBytes = 2 * m_decoder->channels();
        while (m_pending.size() < maxSize && !m_ended) {
            QByteArray chunk;
            qint64 startUs = 0;
            if (!m_decoder->decode(&chunk, &startUs)) {
                m_ended = true;
                break;
            }
            if (m_skipUs > startUs) {
                const qint64 skipFrames = (m_skipUs - startUs) * m_decoder->sampleRate() / 1000000;
                const qint64 skipBytes = qMin<qint64>(skipFrames * frameBytes, chunk.size());
                chunk.remove(0, int(skipBytes));
            }
            m_skipUs = -1;
            m_pending += chunk;
        }
        // Whole sample frames only.
        const qint64 n = qMin<qint64>(maxSize, m_pending.size()) / frameBytes * frameBytes;
        memcpy(data, m_pending.constData(), size_t(n));
        m_pending.remove(0, int(n));
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    AudioDecoder* m_decoder;
    QByteArray m_pending;
    qint64 m_skipUs = -1;
    bool m_ended = false;
};

AudioOutput::AudioOutput(QObject* parent) : QObject(parent) {}

AudioOutput::~AudioOutput()
{
    close();
}

bool AudioOutput::deviceAvailable()
{
    return !QMediaDevices::defaultAudioOutput().isNull();
}

bool AudioOutput::open(const QString& path)
{
    close();
    auto decoder = std::make_unique<AudioDecoder>();
    EngineError error;
    if (!decoder->open(path, &error)) {
        qCInfo(lcAudio) << "no sound:" << error.message();
        return false;
    }
    m_decoder = std::move(decoder);
    m_feed = std::make_unique<Feed>(m_decoder.get());
    return true;
}

void AudioOutput::close()
{
    stop();
    m_feed.reset();
    m_decoder.reset();
}

bool AudioOutput::isOpen() const
{
    return m_decoder != nullptr;
}

bool AudioOutput::start(qint64 fromMs)
{
    stop();
    if (!m_decoder)
        return false;
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull())
        return false;
    QAudioFormat format;
    format.setSampleRate(m_decoder->sampleRate());
    format.setChannelCount(m_decoder->channels());
    format.setSampleFormat(QAudioFormat::Int16);
    if (!device.isFormatSupported(format)) {
        qCWarning(lcAudio) << "the sound device does not take" << format;
        return false;
    }
    m_decoder->seek(fromMs);
    m_feed->restart(fromMs * 1000);
    m_feed->open(QIODevice::ReadOnly);
    m_sink = new QAudioSink(device, format, this);
    // A short device buffer keeps what is heard close to what was handed over.
    m_sink->setBufferSize(format.bytesForDuration(120000));
    setVolume(m_volume);
    m_startUs = fromMs * 1000;
    m_sink->start(m_feed.get());
    if (m_sink->error() != QAudio::NoError) {
        qCWarning(lcAudio) << "the sound device failed to start:" << m_sink->error();
        stop();
        return false;
    }
    return true;
}

void AudioOutput::stop()
{
    if (m_sink) {
        m_sink->stop();
        delete m_sink;
        m_sink = nullptr;
    }
    if (m_feed)
        m_feed->close();
}

bool AudioOutput::isRunning() const
{
    return m_sink != nullptr;
}

void AudioOutput::setVolume(int thousandths)
{
    m_volume = qBound(0, thousandths, 1000);
    if (m_sink)
        m_sink->setVolume(QAudio::convertVolume(m_volume / 1000.0, QAudio::LogarithmicVolumeScale,
                                                QAudio::LinearVolumeScale));
}

qint64 AudioOutput::playedUs() const
{
    if (!m_sink)
        return -1;
    return m_startUs + m_sink->processedUSecs();
}

} // namespace framix
