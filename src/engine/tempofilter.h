#pragma once

#include <QByteArray>

#include <memory>

namespace framix {

// Changes the speed of interleaved signed 16-bit sound without changing its pitch
// (libavfilter's atempo; tempos outside one stage's range are split over several stages).
// 2.0 plays twice as fast, 0.5 half as fast. Not thread-safe.
class TempoFilter
{
public:
    TempoFilter();
    ~TempoFilter();
    TempoFilter(const TempoFilter&) = delete;
    TempoFilter& operator=(const TempoFilter&) = delete;

    // False when the filter graph cannot be built (the tempo must be above 0).
    bool setup(int sampleRate, int channels, double tempo);
    bool isSetUp() const;
    // Back to no filter at all.
    void reset();
    double tempo() const;

    // Feeds samples in and returns what the filter has ready (possibly nothing yet).
    QByteArray process(const QByteArray& samples);
    // Ends the input and returns the rest.
    QByteArray flush();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace framix
