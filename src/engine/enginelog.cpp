#include "enginelog.h"

#include <mutex>
#include <utility>

extern "C" {
#include <libavutil/log.h>
}

namespace framix {

Q_LOGGING_CATEGORY(lcEngine, "framix.engine", QtWarningMsg)

namespace {

thread_local QString t_lastError;

// One log line, with or without the log's "[context @ address] " prefix; the arguments are
// copied, so the same ones can be formatted again.
QByteArray formatLine(void* avcl, int level, const char* fmt, va_list args, bool withPrefix)
{
    char line[1024];
    int prefix = withPrefix ? 1 : 0;
    va_list copy;
    va_copy(copy, args);
    av_log_format_line2(withPrefix ? avcl : nullptr, level, fmt, copy, line, sizeof line, &prefix);
    va_end(copy);
    return QByteArray(line).trimmed();
}

void logCallback(void* avcl, int level, const char* fmt, va_list args)
{
    if (level > AV_LOG_WARNING)
        return;
    const QByteArray text = formatLine(avcl, level, fmt, args, true);
    if (text.isEmpty())
        return;
    // The user sees the message itself, without the prefix, which only means something to
    // a developer reading the log ("[mov,mp4,m4a,3gp,3g2,mj2 @ 0x55ff634ed8c0] ").
    if (level <= AV_LOG_ERROR)
        t_lastError = QString::fromUtf8(formatLine(avcl, level, fmt, args, false));
    // Damaged media make decoders complain a lot; that is detail for the log, not a warning.
    if (level <= AV_LOG_FATAL)
        qCWarning(lcEngine).noquote() << "ffmpeg:" << text;
    else
        qCInfo(lcEngine).noquote() << "ffmpeg:" << text;
}

} // namespace

QString takeLastFfmpegError()
{
    return std::exchange(t_lastError, QString());
}

void installFfmpegLogHandler()
{
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_callback(logCallback); });
}

} // namespace framix
