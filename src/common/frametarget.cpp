#include "frametarget.h"

#include <QRegularExpression>

namespace framix {

std::optional<FrameTarget> FrameTarget::parse(const QString& text)
{
    const QString t = text.trimmed();
    static const QRegularExpression frame(QStringLiteral("^\\d{1,9}$"));
    if (frame.match(t).hasMatch())
        return FrameTarget{false, t.toLongLong()};
    static const QRegularExpression time(
        QStringLiteral("^(?:(?:(\\d{1,4}):)?(\\d{1,2}):)?(\\d{1,2})(?:\\.(\\d{1,3}))?$"));
    const QRegularExpressionMatch m = time.match(t);
    if (!m.hasMatch() || (m.captured(2).isEmpty() && m.captured(4).isEmpty()))
        return std::nullopt; // a bare number is a frame, handled above
    const qint64 hours = m.captured(1).toLongLong();
    const qint64 minutes = m.captured(2).toLongLong();
    const qint64 seconds = m.captured(3).toLongLong();
    if ((!m.captured(2).isEmpty() && seconds > 59) || (!m.captured(1).isEmpty() && minutes > 59))
        return std::nullopt;
    const qint64 ms = m.captured(4).leftJustified(3, QLatin1Char('0')).toLongLong();
    return FrameTarget{true, ((hours * 60 + minutes) * 60 + seconds) * 1000 + ms};
}

} // namespace framix
