#pragma once

#include "audiodecoder.h"
#include "engineerror.h"
#include "tempofilter.h"

#include <QByteArray>

namespace framix {

// A file's sound as the sound device takes it: interleaved signed 16-bit samples from a
// chosen time on, at a chosen tempo with the pitch kept (1.0 as recorded). What read()
// returns is exactly what goes to the speakers. Not thread-safe.
class AudioStream
{
public:
    bool open(const QString& path, EngineError* error);
    bool isOpen() const { return m_decoder.isOpen(); }
    int sampleRate() const { return m_decoder.sampleRate(); }
    int channels() const { return m_decoder.channels(); }

    // Positions the sound at `fromMs` and sets the tempo.
    bool start(qint64 fromMs, double tempo);
    double tempo() const { return m_tempo; }
    // Up to maxBytes of samples (whole sample frames); fewer only at the end of the sound.
    qint64 read(char* data, qint64 maxBytes);
    bool atEnd() const { return m_ended && m_pending.isEmpty(); }
    // Leaves out the next `us` of media time, as if it had been read.
    void skip(qint64 us);

private:
    AudioDecoder m_decoder;
    TempoFilter m_filter;
    QByteArray m_pending;
    qint64 m_skipUs = -1;
    qint64 m_dropBytes = 0; // of output, still to be left out (skip())
    double m_tempo = 1.0;
    bool m_ended = false;
};

} // namespace framix
