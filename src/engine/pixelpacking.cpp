#include "pixelpacking.h"

#include <cstddef>

// This file is compiled with -O3 (see CMakeLists.txt) so that the row loops are vectorised;
// on x86-64 with GCC an AVX2 version is chosen at run time where the processor has it.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
#define FRAMIX_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define FRAMIX_VECTOR_CLONES
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

FRAMIX_VECTOR_CLONES
void yccRow(const uint8_t* __restrict bgr, uint8_t* __restrict y, uint8_t* __restrict cb,
            uint8_t* __restrict cr, int width)
{
    for (int x = 0; x < width; ++x) {
        const int32_t b = bgr[3 * x], g = bgr[3 * x + 1], r = bgr[3 * x + 2];
        y[x] = uint8_t((kYr * r + kYg * g + kYb * b + kHalf) >> kShift);
        cb[x] = uint8_t((kC * b - kCbR * r - kCbG * g + kChromaOffset) >> kShift);
        cr[x] = uint8_t((kC * r - kCrG * g - kCrB * b + kChromaOffset) >> kShift);
    }
}

FRAMIX_VECTOR_CLONES
void rgbRow(const uint8_t* __restrict bgr, uint8_t* __restrict rgb, int width)
{
    for (int x = 0; x < width; ++x) {
        rgb[3 * x] = bgr[3 * x + 2];
        rgb[3 * x + 1] = bgr[3 * x + 1];
        rgb[3 * x + 2] = bgr[3 * x];
    }
}

FRAMIX_VECTOR_CLONES
void bgraRow(const uint8_t* __restrict bgr, uint8_t* __restrict bgra, int width)
{
    for (int x = 0; x < width; ++x) {
        bgra[4 * x] = bgr[3 * x];
        bgra[4 * x + 1] = bgr[3 * x + 1];
        bgra[4 * x + 2] = bgr[3 * x + 2];
        bgra[4 * x + 3] = 0xff;
    }
}

} // namespace

void bgrToJfifYcc(const uint8_t* bgr, int bgrStride, uint8_t* const planes[3], const int strides[3],
                  int width, int height)
{
    for (int row = 0; row < height; ++row)
        yccRow(bgr + std::ptrdiff_t(row) * bgrStride, planes[0] + std::ptrdiff_t(row) * strides[0],
               planes[1] + std::ptrdiff_t(row) * strides[1],
               planes[2] + std::ptrdiff_t(row) * strides[2], width);
}

void bgrToRgb(const uint8_t* bgr, int bgrStride, uint8_t* rgb, int rgbStride, int width, int height)
{
    for (int row = 0; row < height; ++row)
        rgbRow(bgr + std::ptrdiff_t(row) * bgrStride, rgb + std::ptrdiff_t(row) * rgbStride, width);
}

void bgrToBgra(const uint8_t* bgr, int bgrStride, uint8_t* bgra, int bgraStride, int width,
               int height)
{
    for (int row = 0; row < height; ++row)
        bgraRow(bgr + std::ptrdiff_t(row) * bgrStride, bgra + std::ptrdiff_t(row) * bgraStride,
                width);
}

} // namespace framix
