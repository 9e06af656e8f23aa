#pragma once
// Private to the engine: a libavfilter graph from a decoded picture's kind to a chain of
// filters, as the per-picture stages (turning upright, deinterlacing) build it.

#include "ffmpeg_p.h"

extern "C" {
#include <libavfilter/avfilter.h>
}

namespace framix {

// A libavfilter graph from decoded pictures of one kind (size, pixel format, sample aspect
// ratio) through a chain of filters to a buffer sink, as the per-picture stages (turning
// upright, deinterlacing) use it. Not thread-safe; not copyable.
class FilterGraph
{
public:
    FilterGraph() = default;
    ~FilterGraph() { release(); }
    FilterGraph(const FilterGraph&) = delete;
    FilterGraph& operator=(const FilterGraph&) = delete;

    // Builds the graph anew for pictures like f: `chain` in libavfilter's text form, with
    // `threads` threads (0: libavfilter's choice), giving pictures of `sinkFormat` (NONE:
    // whatever the chain gives). Returns libavfilter's result; on failure nothing is built.
    int build(const AVFrame* f, const char* chain, int threads,
              AVPixelFormat sinkFormat = AV_PIX_FMT_NONE);
    void release();
    bool isBuilt() const { return m_graph != nullptr; }
    // Whether f is of the kind of picture the graph was built for.
    bool takes(const AVFrame* f) const;

    // Both are null while nothing is built.
    AVFilterContext* source() const { return m_source; }
    AVFilterContext* sink() const { return m_sink; }

private:
    AVFilterGraph* m_graph = nullptr;
    AVFilterContext* m_source = nullptr;
    AVFilterContext* m_sink = nullptr;
    int m_width = 0, m_height = 0, m_format = -1;
    AVRational m_sar{0, 1};
};

} // namespace framix
