#include "audiooutput.h"

#include "audiostream.h"

#include <QAudio>
#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QIODevice>
#include <QLoggingCategory>
#include <QMediaDevices>

namespace framix {

Q_LOGGING_CATEGORY(lcAudio, "framix.playback.audio", QtWarningMsg)

// Hands the sound to the sink as it asks for it. Decoding a chunk of compressed sound takes
// well under a millisecond, so it happens right here, on demand.
class AudioOutput::Feed : public QIODevice
{
public:
    explicit Feed(AudioStream* stream) : m_stream(stream) {}

protected:
    qint64 readData(char* data, qint64 maxSize) override { return m_stream->read(data, maxSize); }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    AudioStream* m_stream;
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
    auto stream = std::make_unique<AudioStream>();
    EngineError error;
    if (!stream->open(path, &error)) {
        qCInfo(lcAudio) << "no sound:" << error.message();
        return false;
    }
    m_stream = std::move(stream);
    m_feed = std::make_unique<Feed>(m_stream.get());
    return true;
}

void AudioOutput::close()
{
    stop();
    m_feed.reset();
    m_stream.reset();
}

bool AudioOutput::isOpen() const
{
    return m_stream != nullptr;
}

bool AudioOutput::start(qint64 fromMs, double tempo)
{
    stop();
    if (!m_stream)
        return false;
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull())
        return false;
    QAudioFormat format;
    format.setSampleRate(m_stream->sampleRate());
    format.setChannelCount(m_stream->channels());
    format.setSampleFormat(QAudioFormat::Int16);
    if (!device.isFormatSupported(format)) {
        qCWarning(lcAudio) << "the sound device does not take" << format;
        return false;
    }
    if (!m_stream->start(fromMs, tempo))
        return false;
    m_feed->open(QIODevice::ReadOnly);
    m_sink = new QAudioSink(device, format, this);
    // A short device buffer keeps what is heard close to what was handed over.
    m_sink->setBufferSize(format.bytesForDuration(120000));
    setVolume(m_volume);
    m_startUs = fromMs * 1000;
    m_skippedUs = 0;
    m_tempo = tempo;
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
    // The device counts sound played; at another tempo that is more or less media time.
    return m_startUs + m_skippedUs + qint64(m_sink->processedUSecs() * m_tempo);
}

void AudioOutput::skip(qint64 us)
{
    if (!m_stream || us <= 0)
        return;
    m_stream->skip(us);
    m_skippedUs += us;
}

} // namespace framix
