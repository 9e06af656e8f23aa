#include "mediainfo.h"

#include <QStringList>

namespace framix {

QString MediaInfo::mediaType() const
{
    QStringList parts;
    if (hasVideo)
        parts << videoCodec;
    if (hasAudio)
        parts << audioCodec;
    return parts.join(QStringLiteral(" / "));
}

} // namespace framix
