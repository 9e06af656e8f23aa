// The index scan reads untrusted containers and codec headers without decoding. Whatever the
// bytes: no crash, no hang, and where the scan takes a file that the decoder reads without a
// complaint, its frame numbers are exactly the decoder's. (Where the decoder complains, the
// input is damaged: the scan may then be wrong in ways only decoding can tell, which the
// check of every index against the decoder corrects; the harness does not count those.)

#include "enginelog.h"
#include "videosource.h"

#include <QLoggingCategory>
#include <QString>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>

using namespace framix;

namespace {

std::atomic_int g_complaints{0};

void countMessages(QtMsgType, const QMessageLogContext& context, const QString& text)
{
    // FFmpeg's own lines, from any of the decoder's threads.
    if (context.category && qstrcmp(context.category, "framix.engine") == 0 &&
        text.startsWith(QLatin1String("ffmpeg:")))
        ++g_complaints;
}

// The input as a file the engine opens by name, without touching the disk.
QString inputFile(const uint8_t* data, size_t size)
{
    static const int fd = memfd_create("framix-fuzz-input", 0);
    if (fd < 0 || ftruncate(fd, 0) != 0)
        std::abort();
    for (size_t done = 0; done < size;) {
        const ssize_t n = pwrite(fd, data + done, size - done, off_t(done));
        if (n <= 0)
            std::abort();
        done += size_t(n);
    }
    return QStringLiteral("/proc/self/fd/%1").arg(fd);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    QLoggingCategory::setFilterRules(QStringLiteral("framix.engine.info=true"));
    qInstallMessageHandler(countMessages);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString path = inputFile(data, size);
    VideoSource::Options options;
    options.useIndexCache = false;
    VideoSource source;
    EngineError error;
    if (!source.open(path, &error, options) || !source.stats().indexFromScan)
        return 0;
    g_complaints = 0;
    auto decoded = VideoSource::indexByDecoding(path, nullptr, &error);
    if (!decoded || g_complaints > 0)
        return 0;
    const int scanned = source.frameCount();
    if (!source.checkIndex(*decoded)) {
        std::fprintf(stderr, "the scan numbered %d frames, the decoder %d, differently\n", scanned,
                     decoded->frameCount());
        std::abort();
    }
    // The frames the index promises can be reached (a few, to keep each run short).
    for (const int n : {0, scanned / 2, scanned - 1})
        if (!source.frame(n, &error)) {
            std::fprintf(stderr, "frame %d of %d: %s\n", n, scanned, qPrintable(error.message()));
            std::abort();
        }
    return 0;
}
