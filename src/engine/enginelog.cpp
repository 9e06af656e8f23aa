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

void logCallback(void* avcl, int level, const char* fmt, va_list args)
{
    if (level > AV_LOG_WARNING)
        return;
    char line[1024];
    int prefix = 1;
    av_log_format_line2(avcl, level, fmt, args, line, sizeof line, &prefix);
    QByteArray text(line);
    while (text.endsWith('\n'))
        text.chop(1);
    if (text.isEmpty())
        return;
    if (level <= AV_LOG_ERROR)
        t_lastError = QString::fromUtf8(text);
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
