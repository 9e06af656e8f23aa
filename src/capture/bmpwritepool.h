#pragma once

#include "imagewritepool.h"

namespace framix {

// An ImageWritePool that writes 24-bit BMP files (see BmpWriter).
class BmpWritePool : public ImageWritePool
{
public:
    explicit BmpWritePool(int threads, int queueLimit = 4) : ImageWritePool(threads, queueLimit) {}
};

} // namespace framix
