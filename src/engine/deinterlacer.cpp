#include "deinterlacer_p.h"

#include "enginelog.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
}

namespace framix {

namespace {

// The command line's filter, word for word: one picture per picture, the field order the
// picture names, only pictures flagged interlaced.
constexpr const char* kFilter = "bwdif=mode=send_frame:parity=auto:deint=interlaced";

// A copy that bwdif deinterlaces whatever its neighbours: flagged interlaced, not repeated.
void markInterlaced(AVFrame* f)
{
#ifdef AV_FRAME_FLAG_INTERLACED
    f->flags |= AV_FRAME_FLAG_INTERLACED;
#else
    f->interlaced_frame = 1;
#endif
    f->repeat_pict = 0;
}

} // namespace

void Deinterlacer::reset()
{
    m_filter.release();
    m_pending.clear();
    m_keepFirst = false;
    m_first = m_last = -1;
    m_throwaway = 0;
    m_nextNumber = 0;
    m_finished = false;
}

int Deinterlacer::nextOut() const
{
    if (!m_pending.empty())
        return m_pending.front().first;
    if (!m_filter.isBuilt())
        return -1;
    return qMax(m_nextNumber, m_keepFirst ? m_first : m_first + 1);
}

bool Deinterlacer::build(const AVFrame* f)
{
    m_throwaway = 0;
    m_finished = false;
    // One thread: the decoder's own threads keep the cores busy already, and libavfilter's
    // slice threads would only compete with them.
    const int err = m_filter.build(f, kFilter, 1);
    if (err < 0) {
        const QString last = takeLastFfmpegError();
        qCWarning(lcEngine).noquote() << "the picture cannot be deinterlaced:"
                                      << (last.isEmpty() ? ff::errorText(err) : last);
        reset();
        return false;
    }
    return true;
}

bool Deinterlacer::feed(AVFrame* frame)
{
    // The buffer source takes over the reference.
    const int err = av_buffersrc_add_frame(m_filter.source(), frame);
    if (err < 0) {
        qCWarning(lcEngine) << "deinterlacing failed:" << ff::errorText(err);
        reset();
        return false;
    }
    return true;
}

bool Deinterlacer::push(const AVFrame* f, int number, bool primed)
{
    const bool follows = m_filter.isBuilt() && !m_finished && number == m_last + 1;
    if (!follows || !m_filter.takes(f)) {
        if (follows) {
            // A new size: what the filter holds comes out first.
            if (!finish())
                return false;
            for (;;) {
                ff::FramePtr out = ff::makeFrame();
                int n = -1;
                if (!out || !pull(out.get(), &n))
                    break;
                m_pending.emplace_back(n, std::move(out));
            }
        } else {
            m_pending.clear();
        }
        if (!build(f))
            return false;
        m_first = m_nextNumber = number;
        m_keepFirst = number == 0 || follows;
        if (!m_keepFirst && primed) {
            // bwdif takes the first picture it deinterlaces from its own field alone, and
            // later ones from their neighbours too. Two interlaced copies ahead of the run
            // get that first one behind it (two, so that the first copy is deinterlaced
            // whatever the picture after it is); what they give is thrown away.
            for (int i = 0; i < 2; ++i) {
                ff::FramePtr copy(av_frame_clone(f));
                if (!copy)
                    return false;
                markInterlaced(copy.get());
                copy->pts = number - 2 + i;
                if (!feed(copy.get()))
                    return false;
            }
            m_throwaway = 2;
        }
    }
    ff::FramePtr in(av_frame_clone(f));
    if (!in)
        return false;
    in->pts = number;
    if (!feed(in.get()))
        return false;
    m_last = number;
    return true;
}

bool Deinterlacer::finish()
{
    if (!m_filter.isBuilt() || m_finished)
        return true;
    m_finished = true;
    const int err = av_buffersrc_add_frame(m_filter.source(), nullptr);
    if (err < 0) {
        qCWarning(lcEngine) << "deinterlacing failed at the end:" << ff::errorText(err);
        return false;
    }
    return true;
}

bool Deinterlacer::take(AVFrame* out, int* number)
{
    if (!m_pending.empty()) {
        *number = m_pending.front().first;
        av_frame_move_ref(out, m_pending.front().second.get());
        m_pending.pop_front();
        return true;
    }
    return pull(out, number);
}

bool Deinterlacer::pull(AVFrame* out, int* number)
{
    while (m_filter.isBuilt()) {
        if (av_buffersink_get_frame(m_filter.sink(), out) < 0)
            return false;
        if (m_throwaway > 0) {
            --m_throwaway;
            av_frame_unref(out);
            continue;
        }
        const int n = m_nextNumber++;
        // The run's first picture was made without the one before it.
        if (n == m_first && !m_keepFirst) {
            av_frame_unref(out);
            continue;
        }
        *number = n;
        return true;
    }
    return false;
}

} // namespace framix
