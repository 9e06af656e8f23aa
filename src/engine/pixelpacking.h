#pragma once

#include <cstdint>

namespace framix {

// Conversions of BGR pictures (three bytes a pixel, blue first, as FrameConverter makes
// them) into what the picture encoders take. Each runs over every pixel of every frame
// written, so they are plain loops the compiler vectorises (swscale's own conversion to
// full-range YCbCr costs several times as much).

// To JPEG's YCbCr (JFIF: the BT.601 matrix at full range, 0..255, chroma centred on 128),
// 4:4:4, with the IJG library's 16-bit fixed-point arithmetic and rounding.
void bgrToJfifYcc(const uint8_t* bgr, int bgrStride, uint8_t* const planes[3], const int strides[3],
                  int width, int height);
// To RGB, three bytes a pixel, red first: the same pixels.
void bgrToRgb(const uint8_t* bgr, int bgrStride, uint8_t* rgb, int rgbStride, int width,
              int height);
// To BGRA with opaque alpha (FFmpeg's AV_PIX_FMT_BGRA): the same pixels.
void bgrToBgra(const uint8_t* bgr, int bgrStride, uint8_t* bgra, int bgraStride, int width,
               int height);

} // namespace framix
