#pragma once
// Private to the engine: the two ways a file's frame index is made.

#include "decodesession_p.h"
#include "frameindex.h"
#include "videosource.h"

#include <optional>

namespace framix {

// One decoding pass over the whole stream: the decoder's own numbering, for any file. With a
// packet limit, over that many packets only, as if the stream ended there.
std::optional<FrameIndex> buildIndex(DecodeSession& session, const VideoSource::Options& options,
                                     EngineError* error, int packetLimit = -1);

// One read of every video packet without decoding, where what the container and the
// codec's headers say provably gives the decoder's numbering. Anything else declines
// (*declined, no error) and the caller decodes instead.
std::optional<FrameIndex> scanIndex(DecodeSession& session, const VideoSource::Options& options,
                                    EngineError* error, bool* declined);

// Whether the scan of this stream orders its pictures by a model of the decoder (each
// picture's type and order as its headers say) rather than by timestamps or packet order.
// Where such an index says a keyframe lands in display order rests on that model: until the
// index is checked, a decode from a keyframe also decodes the GOP before it, so that the
// pictures around the keyframe come out as they do in a whole decode and are counted.
bool scanModelsOrder(const AVFormatContext* fmt, const AVStream* st);

} // namespace framix
