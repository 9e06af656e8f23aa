#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

class QAudioSink;

namespace framix {

class AudioStream;

// Plays a file's sound on the default sound device through Qt Multimedia, and says how far
// the listener has heard, so that the picture can follow the sound. With no sound device
// (a headless machine) start() returns false and the player runs on its own clock, silent.
// UI thread only: the sound device pulls samples through a QIODevice on this thread.
class AudioOutput : public QObject
{
    Q_OBJECT
public:
    explicit AudioOutput(QObject* parent = nullptr);
    ~AudioOutput() override;

    // Opens the file's sound stream; false when it has none that decodes.
    bool open(const QString& path);
    void close();
    bool isOpen() const;

    // Starts the sound at media time `fromMs`, played `tempo` times as fast with its pitch
    // kept. False when there is no device or no sound.
    bool start(qint64 fromMs, double tempo = 1.0);
    void stop();
    bool isRunning() const;

    // 0 (silent) to 1000 (full), a loudness scale: the sink's linear gain follows it
    // logarithmically.
    void setVolume(int thousandths);
    int volume() const { return m_volume; }

    // Media time, in microseconds, of the sound the device is playing now; -1 when stopped.
    qint64 playedUs() const;
    // Leaves out the next `us` of media time from what goes to the device: the sound
    // catches up with a picture it fell behind.
    void skip(qint64 us);

    static bool deviceAvailable();

private:
    class Feed;
    std::unique_ptr<AudioStream> m_stream;
    std::unique_ptr<Feed> m_feed;
    QAudioSink* m_sink = nullptr;
    qint64 m_startUs = 0;
    qint64 m_skippedUs = 0;
    double m_tempo = 1.0;
    int m_volume = 1000;
};

} // namespace framix
