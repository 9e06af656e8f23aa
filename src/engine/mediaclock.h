#pragma once

#include <QElapsedTimer>

namespace framix {

// The playback clock, in microseconds of media time. It runs on a monotonic timer scaled by
// the playback rate. With sound, the sound output reports how much it has played through
// syncToAudio(), and the clock is kept in step with those reports. Sound servers update
// what they report only now and then (PulseAudio about once a second), so the same report
// comes again and again in between: a report is news only when it changes, and the clock
// runs on its timer meanwhile. A device can also take a while to really start playing
// after it was started, or stall: the picture does not wait for it, the sound catches up
// instead. Not thread-safe: read and set on one thread.
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

    // The sound output has played media up to `us`. Small differences are made up
    // gradually, so the picture follows the sound. Sound ahead by more than kMaxDriftUs
    // puts the clock there. Sound behind by more than that (a device that started late or
    // stalled) does not hold the picture back: the return value is how much media time
    // the sound is behind, for the caller to drop so that it catches up; 0 otherwise.
    qint64 syncToAudio(qint64 us);
    static constexpr qint64 kMaxDriftUs = 150000;
    // How far the sound was from the clock at the last report that was news, before the
    // clock was corrected (sound ahead is positive).
    qint64 lastDriftUs() const { return m_lastDriftUs; }
    bool followsAudio() const { return m_audioMaster; }
    void setFollowsAudio(bool follow) { m_audioMaster = follow; }

private:
    QElapsedTimer m_timer;
    qint64 m_base = 0;
    double m_rate = 1.0;
    bool m_running = false;
    bool m_audioMaster = false;
    qint64 m_lastAudioUs = -1; // the last report taken, -1 before the first
    qint64 m_lastDriftUs = 0;
};

} // namespace framix
