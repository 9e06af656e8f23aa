#pragma once

#include "engineerror.h"
#include "videoframe.h"

#include <QImage>
#include <QString>

#include <memory>
#include <optional>

namespace framix {

// The picture file formats frames are saved in.
enum class ImageFormat
{
    Bmp,  // 24-bit Windows bitmap (BmpWriter)
    Png,  // lossless, 8 or 16 bits per channel
    Jpeg, // 4:4:4, full range
    Tiff, // 24-bit RGB, PackBits
    WebP, // lossless, or lossy at a given quality
};

struct ImageOptions
{
    static constexpr int kDefaultJpegQuality = 95;

    ImageFormat format = ImageFormat::Bmp;
    // JPEG: 1..100 on the scale of the IJG library's quantisation tables (-1: 95).
    // WebP: 1..100 writes lossy pictures at that quality; -1 lossless ones.
    int quality = -1;
    // 16: PNG with 16 bits per channel for frames of more than 8 bits per component
    // (other frames are written with 8).
    int depth = 8;
    // Scale the width by the sample aspect ratio (sarNum:sarDen), bicubic, so the picture
    // has the shape it is shown in; otherwise the stored pixels are written.
    bool displayShape = false;
    int sarNum = 1;
    int sarDen = 1;
    // PQ and HLG frames to SDR (see Tonemapper); other frames are written as they are.
    bool tonemap = false;
};

// ".bmp", ".png", ".jpg", ".tiff", ".webp".
QString imageFileExtension(ImageFormat format);
// "bmp", "png", "jpg" or "jpeg", "tiff" or "tif", "webp" (any case); nullopt otherwise.
std::optional<ImageFormat> imageFormatFromName(const QString& name);
// The width a picture of `width` stored pixels is shown at with that sample aspect ratio.
int displayWidth(int width, int sarNum, int sarDen);

// Writes decoded frames as picture files. Every picture starts as the BGR picture of
// FrameConverter::toBgrImage (or Tonemapper's, for tone-mapped HDR frames), so the lossless
// formats hold exactly the pixels of the BMP file; PNG at 16 bits per channel converts the
// decoded frame straight to 16-bit RGB the same way. The encoders are FFmpeg's (png, mjpeg,
// tiff, libwebp); each file is written atomically (see writeFileAtomically). The BMP
// format is written by BmpWriter, byte for byte as before. Holds conversion, filter and
// encoder contexts between frames: one per thread.
class ImageWriter
{
public:
    explicit ImageWriter(const ImageOptions& options = {});
    ~ImageWriter();
    ImageWriter(const ImageWriter&) = delete;
    ImageWriter& operator=(const ImageWriter&) = delete;

    bool save(const VideoFrame& frame, const QString& path, EngineError* error);
    // A picture already in RGB, written as if it were a frame's (no tone mapping).
    bool save(const QImage& image, const QString& path, EngineError* error);

    struct Stats
    {
        int tonemapped = 0; // frames that went through the tone mapping
        int deep = 0;       // frames written with 16 bits per channel
    };
    const Stats& stats() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace framix
