#include "mediainfo.h"

#include <QStringList>

#include <cmath>

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

int MediaInfo::displayWidth() const
{
    if (sampleAspectNum <= 0 || sampleAspectDen <= 0 || sampleAspectNum == sampleAspectDen)
        return width;
    return int(std::lround(double(width) * sampleAspectNum / sampleAspectDen));
}

} // namespace framix
