#include "scenescan.h"

#include "videosource.h"

namespace framix {

std::optional<std::vector<int>> SceneScan::run(EngineError* error) const
{
    VideoSource source;
    VideoSource::Options options;
    options.indexCacheDir = indexCacheDir;
    options.cancel = cancel;
    options.source = video;
    if (!source.open(input, error, options))
        return std::nullopt;
    const int count = source.frameCount();
    const int last = to < 0 ? count - 1 : to;
    if (!source.info().hasVideo || from < 0 || from > last || last >= count) {
        fail(error, EngineError::Code::OutOfRange,
             QStringLiteral("frames %1 to %2 asked for; the file has frames 0 to %3")
                 .arg(from)
                 .arg(last)
                 .arg(count - 1));
        return std::nullopt;
    }
    SceneDetector detector(threshold);
    std::vector<int> starts;
    for (int n = from; n <= last; ++n) {
        if (cancel && cancel->load()) {
            fail(error, EngineError::Code::Cancelled, QString());
            return std::nullopt;
        }
        const auto frame = source.frame(n, error);
        if (!frame)
            return std::nullopt;
        if (detector.startsScene(*frame))
            starts.push_back(n);
        if (!detector.failure().isEmpty()) {
            fail(error, EngineError::Code::DecodeFailed, detector.failure());
            return std::nullopt;
        }
        if (progress)
            progress(n - from + 1, last - from + 1);
    }
    return starts;
}

} // namespace framix
