#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QString>

#include <memory>

namespace framix {

// One decoded picture, exactly as the decoder produced it (native pixel format, stored
// size). Implicitly shared and immutable: copies are cheap and may cross threads; the
// picture memory is released when the last copy goes. Conversion to RGB is FrameConverter's.
class VideoFrame
{
public:
    struct Data; // engine-private: holds the decoder's frame reference

    VideoFrame() = default;
    explicit VideoFrame(std::shared_ptr<const Data> data) : m_data(std::move(data)) {}

    bool isNull() const { return !m_data; }
    int number() const;    // display-order frame number in its file
    qint64 timeMs() const; // display time from the start of the stream
    int width() const;
    int height() const;
    QString pixelFormatName() const;
    // Memory the picture holds, for cache accounting.
    qint64 memoryBytes() const;

    // The picture packed without padding, plane after plane: what ffmpeg's rawvideo
    // encoder produces, so rawMd5() matches a line of `ffmpeg -f framemd5`.
    int rawSize() const;
    QByteArray rawMd5() const;

    const Data* data() const { return m_data.get(); }

private:
    std::shared_ptr<const Data> m_data;
};

} // namespace framix

Q_DECLARE_METATYPE(framix::VideoFrame)
