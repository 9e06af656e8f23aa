#pragma once

#include <QLoggingCategory>

namespace framix {

Q_DECLARE_LOGGING_CATEGORY(lcEngine)

// Routes FFmpeg's av_log output into lcEngine (warnings and errors only). Safe to call more
// than once; the callback itself only formats and forwards, so it may run on any thread.
void installFfmpegLogHandler();
// The last error line FFmpeg logged on this thread (then forgotten), for error details
// that FFmpeg's return codes alone do not give.
QString takeLastFfmpegError();

} // namespace framix
