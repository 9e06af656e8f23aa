// Index files in the cache folder are read back on every open: whatever their bytes (past
// the checksum, which the harness makes right, and the file's identity, which it takes from
// the bytes themselves), reading them never crashes, and an index that is accepted writes
// back reads again as itself, and can be walked and searched safely.

#include "frameindex.h"

#include <QByteArray>
#include <QCryptographicHash>

#include <cstdlib>

using namespace framix;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The file's body; the identity it names (after the magic number and version, a byte
    // array: 32-bit length, then the bytes) is the one asked for.
    QByteArray file(reinterpret_cast<const char*>(data), qsizetype(size));
    QByteArray key;
    if (size >= 12) {
        const quint32 length = quint32(data[8]) << 24 | quint32(data[9]) << 16 |
                               quint32(data[10]) << 8 | quint32(data[11]);
        if (length != 0xffffffffu && length <= size - 12)
            key = file.mid(12, qsizetype(length));
    }
    file += QCryptographicHash::hash(file, QCryptographicHash::Sha1);
    const std::optional<FrameIndex> index = FrameIndex::deserialize(file, key);
    if (!index)
        return 0;
    // Written back and read again, it is the same index (the bytes may differ the first time:
    // a flag stored as 2 reads as true and is written as 1).
    const QByteArray written = index->serialize(key);
    const std::optional<FrameIndex> again = FrameIndex::deserialize(written, key);
    if (!again || again->serialize(key) != written)
        std::abort();
    const int packets = index->packetCount();
    for (int n = 0; n < index->frameCount(); ++n) {
        const FrameIndex::Frame& f = index->frame(n);
        if (f.packet >= packets || f.startPacket >= packets ||
            index->earlierStart(f.startPacket) > f.startPacket)
            std::abort();
    }
    (void)index->facts(25.0);
    (void)index->frameRate();
    for (int i = 0; i < qMin(packets, 64); ++i) {
        const FrameIndex::Packet& p = index->packet(i);
        const int found = index->identifyPacket(p.pos, p.size, p.checksum, i);
        if (found < 0 || found >= packets)
            std::abort();
    }
    return 0;
}
