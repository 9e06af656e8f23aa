#pragma once

#include <QMetaType>
#include <QString>

namespace framix {

// What went wrong inside the engine. `detail` is technical text for the log or a
// command-line message (often FFmpeg's own av_strerror text); user-facing wording is
// the UI layers' business.
struct EngineError
{
    enum class Code
    {
        None,
        NotFound,         // no such file
        IsDirectory,      // the path names a folder
        PermissionDenied, // the file cannot be read by this user
        NotMedia,         // no container format recognised the file
        NoStreams,        // a container without any video or audio stream
        UnsupportedCodec, // the stream's codec has no decoder here
        PictureTooLarge,  // the stream claims a picture larger than we decode
        DecodeFailed,     // a frame that the index lists could not be decoded
        OutOfRange,       // a frame number outside 0..frameCount-1
        IoError,          // reading or writing failed (disk full, removed medium, ...)
        Cancelled,        // the caller asked to stop
    };

    Code code = Code::None;
    QString detail;

    bool isError() const { return code != Code::None; }
    // A one-line description: the kind of failure followed by the detail.
    QString message() const;
    static QString codeName(Code code);
};

// Fills *error when error is not null; returns false so callers can `return fail(...)`.
bool fail(EngineError* error, EngineError::Code code, const QString& detail);

} // namespace framix

Q_DECLARE_METATYPE(framix::EngineError)
