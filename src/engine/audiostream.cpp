#include "audiostream.h"

#include <cstring>

namespace framix {

bool AudioStream::open(const QString& path, EngineError* error)
{
    m_pending.clear();
    m_ended = false;
    return m_decoder.open(path, error);
}

bool AudioStream::start(qint64 fromMs, double tempo)
{
    if (!m_decoder.isOpen())
        return false;
    m_pending.clear();
    m_ended = false;
    m_dropBytes = 0;
    m_tempo = tempo;
    m_decoder.seek(fromMs);
    // The decoder lands at or just before the time; the samples before it are dropped so
    // the sound starts exactly where the picture does.
    m_skipUs = fromMs * 1000;
    if (tempo == 1.0) {
        m_filter.reset();
        return true;
    }
    m_filter.setup(m_decoder.sampleRate(), m_decoder.channels(), tempo);
    return m_filter.isSetUp();
}

void AudioStream::skip(qint64 us)
{
    // Output runs `tempo` times as fast as media time.
    const int frameBytes = 2 * m_decoder.channels();
    m_dropBytes += qint64(double(us) / m_tempo * m_decoder.sampleRate() / 1e6) * frameBytes;
}

qint64 AudioStream::read(char* data, qint64 maxBytes)
{
    const int frameBytes = 2 * m_decoder.channels();
    while (m_pending.size() < maxBytes + m_dropBytes && !m_ended) {
        QByteArray chunk;
        qint64 startUs = 0;
        if (!m_decoder.decode(&chunk, &startUs)) {
            m_ended = true;
            if (m_filter.isSetUp())
                m_pending += m_filter.flush();
            break;
        }
        if (m_skipUs > startUs) {
            const qint64 skipFrames = (m_skipUs - startUs) * m_decoder.sampleRate() / 1000000;
            chunk.remove(0, int(qMin<qint64>(skipFrames * frameBytes, chunk.size())));
        }
        m_skipUs = -1;
        m_pending += m_filter.isSetUp() ? m_filter.process(chunk) : chunk;
    }
    const qint64 dropped = qMin<qint64>(m_dropBytes, m_pending.size());
    m_pending.remove(0, int(dropped));
    m_dropBytes -= dropped;
    const qint64 n = qMin<qint64>(maxBytes, m_pending.size()) / frameBytes * frameBytes;
    std::memcpy(data, m_pending.constData(), size_t(n));
    m_pending.remove(0, int(n));
    return n;
}

} // namespace framix
