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
    va_list forLog;
    va_copy(forLog, args);
    av_log_format_line2(avcl, level, fmt, forLog, line, sizeof line, &prefix);
    va_end(forLog);
    QByteArray text(line);
    while (text.endsWith('\n'))
        text.chop(1);
    if (text.isEmpty())
        return;
    if (level <= AV_LOG_ERROR) {
        // Kept for the user's eyes: the message itself, without the log's own prefix
        // ("[mov,mp4,m4a,3gp,3g2,mj2 @ 0x55ff634ed8c0] "), which only means something to a
        // developer reading the log.
        char bare[1024];
        int noPrefix = 0;
        va_list again;
        va_copy(again, args);
        av_log_format_line2(nullptr, level, fmt, again, bare, sizeof bare, &noPrefix);
        va_end(again);
        t_lastError = QString::fromUtf8(bare).trimmed();
    }
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
