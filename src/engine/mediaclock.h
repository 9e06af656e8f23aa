#pragma once

#include <QElapsedTimer>

namespace framix {

// The playback clock, in microseconds of media time. Without sound it runs on a monotonic
// timer scaled by the playback rate. With sound, the sound output reports how much it has
// played through syncToAudio(), and the clock follows those reports, interpolating on the
// monotonic timer between them. Not thread-safe: read and set on one thread.
class MediaClock
{
public:
    void start();
    void pause();
    bool isRunning() const { return m_running; }

    void setPosition(qint64 us);
    qint64 position() const;

    // Media time per wall-clock time: 1.0 normal, 2.0 double, 0.5 half.
    void setRate(double rate);
    double rate() const { return m_rate; }

    // The sound output has played media up to `us`; the clock follows it from now on.
    void syncToAudio(qint64 us);
    bool followsAudio() const { return m_audioMaster; }
    void setFollowsAudio(bool follow) { m_audioMaster = follow; }

private:
    QElapsedTimer m_timer;
    qint64 m_base = 0;
    double m_rate = 1.0;
    bool m_running = false;
    bool m_audioMaster = false;
};

} // namespace framix
