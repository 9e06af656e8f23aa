#include "pixelpacking.h"

#include <cstddef>

// This file is compiled with -O3 (see CMakeLists.txt) so that the row loops are vectorised.
// On x86-64 each loop is also compiled for AVX2, which does them about four times as fast as
// the baseline SSE2, and that copy is used where the processor has it. (The choice is made
// here rather than by the loader, whose resolver functions the sanitizers do not survive.)
#if (defined(__GNUC__) || defined(__clang__)) && defined(__x86_64__)
#define FRAMIX_AVX2 1
#define FRAMIX_INLINE inline __attribute__((always_inline))
#else
#define FRAMIX_AVX2 0
#define FRAMIX_INLINE inline
#endif

namespace framix {

namespace {

constexpr int kShift = 16;
constexpr int32_t kHalf = 1 << (kShift - 1);
constexpr int32_t fix(double x)
{
    return int32_t(x * (1 << kShift) + 0.5);
}
constexpr int32_t kYr = fix(0.29900), kYg = fix(0.58700), kYb = fix(0.11400);
constexpr int32_t kCbR = fix(0.16874), kCbG = fix(0.33126), kCrG = fix(0.41869),
                  kCrB = fix(0.08131), kC = fix(0.5);
// Chroma is centred on 128; rounding as libjpeg does (half less one, so nothing reaches 256).
constexpr int32_t kChromaOffset = (128 << kShift) + kHalf - 1;

FRAMIX_INLINE void yccRow(const uint8_t* __restrict bgr, uint8_t* __restrict y,
                          uint8_t* __restrict cb, uint8_t* __restrict cr, int width)
{
    for (int x = 0; x < width; ++x) {
        const int32_t b = bgr[3 * x], g = bgr[3 * x + 1], r = bgr[3 * x + 2];
        y[x] = uint8_t((kYr * r + kYg * g + kYb * b + kHalf) >> kShift);
        cb[x] = uint8_t((kC * b - kCbR * r - kCbG * g + kChromaOffset) >> kShift);
        cr[x] = uint8_t((kC * r - kCrG * g - kCrB * b + kChromaOffset) >> kShift);
    }
}

FRAMIX_INLINE void rgbRow(const uint8_t* __restrict bgr, uint8_t* __restrict rgb, int width)
{
    for (int x = 0; x < width; ++x) {
        rgb[3 * x] = bgr[3 * x + 2];
        rgb[3 * x + 1] = bgr[3 * x + 1];
        rgb[3 * x + 2] = bgr[3 * x];
    }
}

FRAMIX_INLINE void bgraRow(const uint8_t* __restrict bgr, uint8_t* __restrict bgra, int width)
{
    for (int x = 0; x < width; ++x) {
        bgra[4 * x] = bgr[3 * x];
        bgra[4 * x + 1] = bgr[3 * x + 1];
        bgra[4 * x + 2] = bgr[3 * x + 2];
        bgra[4 * x + 3] = 0xff;
    }
}

// The loops over the rows, compiled once for the baseline and, on x86-64, once more for AVX2.
FRAMIX_INLINE void yccRows(const uint8_t* bgr, int bgrStride, uint8_t* const planes[3],
                           const int strides[3], int width, int height)
{
    for (std::ptrdiff_t y = 0; y < height; ++y)
        yccRow(bgr + y * bgrStride, planes[0] + y * strides[0], planes[1] + y * strides[1],
               planes[2] + y * strides[2], width);
}

FRAMIX_INLINE void rgbRows(const uint8_t* bgr, int bgrStride, uint8_t* rgb, int rgbStride,
                           int width, int height)
{
    for (std::ptrdiff_t y = 0; y < height; ++y)
        rgbRow(bgr + y * bgrStride, rgb + y * rgbStride, width);
}

FRAMIX_INLINE void bgraRows(const uint8_t* bgr, int bgrStride, uint8_t* bgra, int bgraStride,
                            int width, int height)
{
    for (std::ptrdiff_t y = 0; y < height; ++y)
        bgraRow(bgr + y * bgrStride, bgra + y * bgraStride, width);
}

#if FRAMIX_AVX2
__attribute__((target("avx2"))) void yccRowsAvx2(const uint8_t* bgr, int bgrStride,
                                                 uint8_t* const planes[3], const int strides[3],
                                                 int width, int height)
{
    yccRows(bgr, bgrStride, planes, strides, width, height);
}

__attribute__((target("avx2"))) void rgbRowsAvx2(const uint8_t* bgr, int bgrStride, uint8_t* rgb,
                                                 int rgbStride, int width, int height)
{
    rgbRows(bgr, bgrStride, rgb, rgbStride, width, height);
}

__attribute__((target("avx2"))) void bgraRowsAvx2(const uint8_t* bgr, int bgrStride, uint8_t* bgra,
                                                  int bgraStride, int width, int height)
{
    bgraRows(bgr, bgrStride, bgra, bgraStride, width, height);
}

bool hasAvx2()
{
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return has;
}
#endif

} // namespace

void bgrToJfifYcc(const uint8_t* bgr, int bgrStride, uint8_t* const planes[3], const int strides[3],
                  int width, int height)
{
#if FRAMIX_AVX2
    if (hasAvx2())
        return yccRowsAvx2(bgr, bgrStride, planes, strides, width, height);
#endif
    yccRows(bgr, bgrStride, planes, strides, width, height);
}

void bgrToRgb(const uint8_t* bgr, int bgrStride, uint8_t* rgb, int rgbStride, int width, int height)
{
#if FRAMIX_AVX2
    if (hasAvx2())
        return rgbRowsAvx2(bgr, bgrStride, rgb, rgbStride, width, height);
#endif
    rgbRows(bgr, bgrStride, rgb, rgbStride, width, height);
}

void bgrToBgra(const uint8_t* bgr, int bgrStride, uint8_t* bgra, int bgraStride, int width,
               int height)
{
#if FRAMIX_AVX2
    if (hasAvx2())
        return bgraRowsAvx2(bgr, bgrStride, bgra, bgraStride, width, height);
#endif
    bgraRows(bgr, bgrStride, bgra, bgraStride, width, height);
}

} // namespace framix
