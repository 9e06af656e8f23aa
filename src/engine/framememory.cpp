#include "framememory.h"

#include <mutex>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace framix {

void keepFrameMemoryForReuse()
{
#if defined(__GLIBC__)
    static std::once_flag once;
    std::call_once(once, [] {
        // Blocks up to 64 MB come from the heap rather than from a mapping of their own,
        // and up to 256 MB of free heap stays with the process.
        mallopt(M_MMAP_THRESHOLD, 64 << 20);
        mallopt(M_TRIM_THRESHOLD, 256 << 20);
        mallopt(M_TOP_PAD, 64 << 20);
    });
#endif
}

} // namespace framix
