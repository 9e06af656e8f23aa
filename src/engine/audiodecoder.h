#pragma once

#include "engineerror.h"

#include <QByteArray>
#include <QString>

#include <memory>

namespace framix {

// Decodes a file's best audio stream to interleaved signed 16-bit samples at the stream's
// own rate, mono or stereo (more channels are mixed down to stereo), for the sound output.
// Not thread-safe: one thread (the playback feeder) owns it.
class AudioDecoder
{
public:
    AudioDecoder();
    ~AudioDecoder();
    AudioDecoder(const AudioDecoder&) = delete;
    AudioDecoder& operator=(const AudioDecoder&) = delete;

    bool open(const QString& path, EngineError* error);
    bool isOpen() const;
    int sampleRate() const;
    int channels() const;

    // Appends the next decoded chunk to *out and sets *startUs to its time from the start
    // of the stream. False at the end of the stream.
    bool decode(QByteArray* out, qint64* startUs);
    // Positions the stream so that the next chunk starts at or just before `ms`.
    bool seek(qint64 ms);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace framix
