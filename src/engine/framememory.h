#pragma once

namespace framix {

// Every frame that is shown or saved allocates and frees pictures of several megabytes
// (a 1080p picture is 6 MB), many times a second. By default the C library hands such
// blocks back to the kernel on every free, and the next allocation pays for fresh zeroed
// pages: at bulk-capture rates that was half of all the time spent. This keeps freed
// picture memory in the process for reuse instead. Safe to call more than once, from
// any thread; it affects the whole process.
void keepFrameMemoryForReuse();

} // namespace framix
