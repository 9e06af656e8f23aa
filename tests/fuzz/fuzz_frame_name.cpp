// File name templates come from the command line: whatever the text, parsing never crashes;
// a template that is accepted gives names without folder separators, which it recognises as
// its own, and which tell apart the frames it promises to tell apart.

#include "framenamer.h"

#include <QString>

#include <cstdlib>

using namespace framix;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString pattern = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    QString why;
    const std::optional<FrameNamer> namer = FrameNamer::parse(pattern, &why);
    if (!namer) {
        if (why.isEmpty())
            std::abort(); // a refusal always says why
        return 0;
    }
    const QString video = QStringLiteral("clip");
    const QString ext = QStringLiteral(".png");
    QString previous;
    for (const int n : {0, 7, 123456, 2147483647}) {
        const qint64 ms = qint64(n) * 40;
        const QString name = namer->name(n, ms, video);
        if (name.contains(QLatin1Char('/')) || !namer->matches(name + ext, video, ext))
            std::abort();
        if (namer->usesFrame() && name == previous)
            std::abort();
        previous = name;
    }
    return 0;
}
