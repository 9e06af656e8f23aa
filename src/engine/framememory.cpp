#include "framememory.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace framix {

void keepFrameMemoryForReuse()
{
#if defined(__GLIBC__)
    static std::once_flag once;
    std::call_once(once, [] {
        // Blocks up to 16 MB (1080p pictures and smaller, the planes of a 4K one) come from
        // the heap rather than from a mapping of their own, and up to 16 MB of free memory
        // at the top of a heap stays with the process (a 1080p capture's pictures in
        // flight). Larger pictures (a converted 4K picture is 33 MB) are mapped, and go back
        // to the kernel when freed. Each decoding and converting thread has a heap of its
        // own, and free memory kept in one is of no use to the others: with large pictures
        // kept too, or more of it (32 MB kept, 64 MB of growth at a time), a 4K player held
        // on to a hundred megabytes and more that it no longer used. Pictures that are
        // reused often come from the picture pool (makePooledImage) instead.
        mallopt(M_MMAP_THRESHOLD, 16 << 20);
        mallopt(M_TRIM_THRESHOLD, 16 << 20);
        mallopt(M_TOP_PAD, 16 << 20);
    });
#endif
}

namespace {

// Pixel memory of pooled pictures: a header, then the pixels at the next 64-byte boundary.
struct Block
{
    size_t size; // bytes of pixels
};
constexpr size_t kPixelOffset = 64;
// Enough for a capture run's pictures in flight at 1080p (6 MB each) and then some. Larger
// pictures get fewer places: at 4K (25 to 33 MB each) one or two, so that converting the
// next frame while one is on screen reuses the memory; more would hold on to memory nobody
// uses.
constexpr size_t kPoolLimit = 64u << 20;

struct Pool
{
    std::mutex mutex;
    std::vector<Block*> free;
    size_t freeBytes = 0;
};

Pool& pool()
{
    static Pool* p = new Pool; // lives as long as the pictures that come back to it
    return *p;
}

uchar* pixels(Block* b)
{
    return reinterpret_cast<uchar*>(b) + kPixelOffset;
}

void release(void* info)
{
    auto* b = static_cast<Block*>(info);
    Pool& p = pool();
    {
        std::lock_guard lock(p.mutex);
        if (p.freeBytes + b->size <= kPoolLimit) {
            p.free.push_back(b);
            p.freeBytes += b->size;
            return;
        }
    }
    std::free(b);
}

Block* acquire(size_t size)
{
    Pool& p = pool();
    {
        std::lock_guard lock(p.mutex);
        for (auto it = p.free.rbegin(); it != p.free.rend(); ++it) {
            if ((*it)->size == size) {
                Block* b = *it;
                p.free.erase(std::next(it).base());
                p.freeBytes -= size;
                return b;
            }
        }
    }
    // aligned_alloc takes only sizes that are a multiple of the alignment.
    const size_t bytes = (kPixelOffset + size + kPixelOffset - 1) / kPixelOffset * kPixelOffset;
    auto* b = static_cast<Block*>(std::aligned_alloc(kPixelOffset, bytes));
    if (b)
        b->size = size;
    return b;
}

} // namespace

int pooledBytesPerLine(int width, QImage::Format format)
{
    // Rows are padded to a whole number of 64-pixel blocks and start on 64-byte boundaries.
    // swscale's SIMD converters work in blocks of pixels: given a row just wide enough for
    // the picture they either write a block past its end (past the buffer on the last row)
    // or leave the last pixels of every row unconverted. With this much room they convert
    // every pixel exactly as they do for ffmpeg's own (equally padded) frames.
    const qsizetype bytesPerPixel = (QImage::toPixelFormat(format).bitsPerPixel() + 7) / 8;
    const qsizetype paddedWidth = (qsizetype(width) + 63) / 64 * 64;
    return int((paddedWidth * bytesPerPixel + 63) / 64 * 64);
}

int picturesWithin(qint64 budgetBytes, qint64 eachBytes, int least, int most)
{
    const qint64 fit = eachBytes > 0 ? budgetBytes / eachBytes : most;
    return int(std::clamp<qint64>(fit, least, std::max(least, most)));
}

QImage makePooledImage(int width, int height, QImage::Format format)
{
    if (width <= 0 || height <= 0)
        return {};
    const qsizetype bytesPerLine = pooledBytesPerLine(width, format);
    // One spare row after the last, for converters that work on pairs of rows.
    Block* b = acquire(size_t(bytesPerLine) * (size_t(height) + 1));
    if (!b)
        return {};
    return QImage(pixels(b), width, height, bytesPerLine, format, release, b);
}

} // namespace framix
