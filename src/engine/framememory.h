#pragma once

#include <QImage>

namespace framix {

// Every frame that is shown or saved allocates and frees pictures of several megabytes
// (a 1080p picture is 6 MB), many times a second. By default the C library hands such
// blocks back to the kernel on every free, and the next allocation pays for fresh zeroed
// pages: at bulk-capture rates that was half of all the time spent. This keeps freed
// picture memory in the process for reuse instead (pictures up to 16 MB; larger ones go
// back, and those used again and again come from makePooledImage's pool). Safe to call more than
// once, from any thread; it affects the whole process, so the programs call it first thing in
// main().
void keepFrameMemoryForReuse();

// An uninitialised picture whose memory comes from a small process-wide pool of pictures
// released earlier, or is allocated when none of the same size is free. The C library
// hands whole freed blocks of per-thread heaps back to the kernel, so pictures made on one
// thread and released on another (converted, then written) otherwise cost fresh pages
// again and again. Rows are padded well beyond QImage's 4 bytes (see pooledBytesPerLine)
// so that converters may write whole blocks of pixels. Thread-safe; a null image when
// memory runs out.
QImage makePooledImage(int width, int height, QImage::Format format);
// The row length of a pooled picture of that width and format.
int pooledBytesPerLine(int width, QImage::Format format);

// How many pictures of `eachBytes` a store of pictures may hold within `budgetBytes`: never
// fewer than `least` (what the store needs to do its work at all), never more than `most`
// (what it needs with small pictures). Stores are bounded by the memory they hold, not by
// a count of frames: a 4K picture is four times a 1080p one, an 8K one sixteen times.
int picturesWithin(qint64 budgetBytes, qint64 eachBytes, int least, int most);

} // namespace framix
