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

void MediaClock::syncToAudio(qint64 us)
{
    m_audioMaster = true;
    setPosition(us);
}

} // namespace framix
