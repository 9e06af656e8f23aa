#pragma once
// Private to the engine: a libavfilter graph from a decoded picture's kind to a chain of
// filters, as the per-picture stages (turning upright, deinterlacing) build it.

#include "ffmpeg_p.h"

extern "C" {
#include <libavfilter/avfilter.h>
}

namespace framix {

// Makes *graph: a buffer source taking pictures of f's size, pixel format and sample aspect
// ratio, `chain` (libavfilter's text form), and a buffer sink. threads: the graph's thread
// count (0: libavfilter's choice). Returns libavfilter's result; on failure the graph is
// freed and the three pointers are null.
int buildFilterGraph(const AVFrame* f, const char* chain, int threads, AVFilterGraph** graph,
                     AVFilterContext** source, AVFilterContext** sink);

} // namespace framix
