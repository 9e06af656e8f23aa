#pragma once
// Private to the engine: deinterlacing decoded pictures with FFmpeg's bwdif filter.

#include "ffmpeg_p.h"
#include "filtergraph_p.h"

#include <deque>
#include <utility>

namespace framix {

// Whether the decoder flags the picture as interlaced (two fields of different moments).
inline bool isInterlaced(const AVFrame* f)
{
#ifdef AV_FRAME_FLAG_INTERLACED
    return f->flags & AV_FRAME_FLAG_INTERLACED;
#else
    return f->interlaced_frame;
#endif
}

// Deinterlaces a run of consecutive decoded pictures (display order) the way
// `ffmpeg -vf bwdif=mode=send_frame:parity=auto:deint=interlaced` does: one picture out for
// each picture in, pictures flagged interlaced rebuilt from their own fields and those of
// the pictures before and after them, the others passed on untouched. Picture m therefore
// comes out once picture m + 1 has gone in, or at the end of the stream (finish()), where
// the filter takes the last picture as its own next one, as ffmpeg does at the end of a
// file. A picture of another size or format than the one before starts the filter anew, as
// ffmpeg does, after the pictures of the old size have come out (ffmpeg drops the last of
// them; here every picture comes out, so the numbering stays that of the decoder).
//
// The filter itself is FFmpeg's, so its output equals the command line's for the same
// three pictures. What it cannot know in a run that starts in the middle of a file is what
// came before: its first picture has no previous one, so it is fed but never handed out
// (except at the very first picture of the file, where ffmpeg has none either). And the
// first picture bwdif deinterlaces in a whole reading is made from its own field alone; a
// run that starts later is told (`primed`) whether a picture before it was deinterlaced
// in a reading from the start, and is then put in the state that reading has by two
// throwaway interlaced copies of its first picture.
//
// Not thread-safe: one per decoding thread.
class Deinterlacer
{
public:
    Deinterlacer() = default;
    Deinterlacer(const Deinterlacer&) = delete;
    Deinterlacer& operator=(const Deinterlacer&) = delete;

    // Forgets the run: the next picture fed starts a new one.
    void reset();
    // Feeds picture `number` (a reference is taken; `frame` is left as it is). A picture
    // that does not follow the last one fed ends the run and starts a new one with it;
    // `primed` (see above) counts only then.
    // False, with the reason in the log, when the filter fails; the run is then forgotten.
    bool push(const AVFrame* frame, int number, bool primed);
    // The end of the stream: the last picture fed comes out too.
    bool finish();
    // Moves the next finished picture into `out` (which must be empty) and its number into
    // *number; false when none is ready.
    bool take(AVFrame* out, int* number);

    // The last picture fed, -1 for none.
    int last() const { return m_last; }
    // The lowest picture number this run may still hand out; -1 when no run is going.
    int nextOut() const;
    bool finished() const { return m_finished; }

private:
    bool build(const AVFrame* f);
    bool feed(AVFrame* frame);
    // The next picture out of the filter, numbered; false when none is ready.
    bool pull(AVFrame* out, int* number);

    FilterGraph m_filter;
    int m_first = -1;         // the run's first picture
    bool m_keepFirst = false; // it is handed out (the first of the file, or of a new size)
    int m_last = -1;          // the last picture fed
    int m_throwaway = 0;      // outputs still to come that are priming copies
    int m_nextNumber = 0;     // the number of the next real picture to come out
    bool m_finished = false;
    // Pictures of the size before, out before the filter was made anew.
    std::deque<std::pair<int, ff::FramePtr>> m_pending;
};

} // namespace framix
