#include "engineerror.h"

namespace framix {

QString EngineError::codeName(Code code)
{
    switch (code) {
    case Code::None:
        return QStringLiteral("no error");
    case Code::NotFound:
        return QStringLiteral("file not found");
    case Code::IsDirectory:
        return QStringLiteral("is a folder, not a file");
    case Code::PermissionDenied:
        return QStringLiteral("permission denied");
    case Code::NotMedia:
        return QStringLiteral("not a media file");
    case Code::NoStreams:
        return QStringLiteral("no video or audio stream");
    case Code::UnsupportedCodec:
        return QStringLiteral("unsupported codec");
    case Code::PictureTooLarge:
        return QStringLiteral("picture size too large");
    case Code::DecodeFailed:
        return QStringLiteral("frame could not be decoded");
    case Code::OutOfRange:
        return QStringLiteral("frame number out of range");
    case Code::IoError:
        return QStringLiteral("input/output error");
    case Code::Cancelled:
        return QStringLiteral("cancelled");
    }
    return QStringLiteral("unknown error");
}

QString EngineError::message() const
{
    if (detail.isEmpty())
        return codeName(code);
    return codeName(code) + QStringLiteral(": ") + detail;
}

bool fail(EngineError* error, EngineError::Code code, const QString& detail)
{
    if (error)
        *error = EngineError{code, detail};
    return false;
}

} // namespace framix
