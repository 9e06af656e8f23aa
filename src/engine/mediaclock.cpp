#include "mediaclock.h"

#include <cmath>

namespace framix {

void MediaClock::start()
{
    if (m_running)
        return;
    m_timer.start();
    m_running = true;
}

void MediaClock::pause()
{
    if (!m_running)
        return;
    m_base = position();
    m_running = false;
}

void MediaClock::setPosition(qint64 us)
{
    m_base = us;
    m_lastAudioUs = -1;
    if (m_running)
        m_timer.start();
}

qint64 MediaClock::position() const
{
    if (!m_running)
        return m_base;
    return m_base + qint64(std::llround(double(m_timer.nsecsElapsed()) / 1000.0 * m_rate));
}

void MediaClock::setRate(double rate)
{
    if (rate <= 0)
        return;
    setPosition(position());
    m_rate = rate;
}

qint64 MediaClock::syncToAudio(qint64 us)
{
    m_audioMaster = true;
    if (us == m_lastAudioUs)
        return 0; // no news: the report has not been updated since it was taken
    m_lastAudioUs = us;
    const qint64 drift = us - position();
    m_lastDriftUs = drift;
    if (drift < -kMaxDriftUs)
        return -drift;
    if (drift > kMaxDriftUs) {
        setPosition(us);
        m_lastAudioUs = us;
        return 0;
    }
    // A quarter of the difference at each report: the picture neither jumps nor drifts
    // away from the sound.
    m_base += drift / 4;
    return 0;
}

} // namespace framix
