#pragma once

#include "frameindex.h"

#include <QByteArray>
#include <QString>

#include <vector>

namespace framix {

// The list of frames a capture wrote, as CSV under the header
// frame,time,pts,keyframe,type,file: the frame number, its presentation time in seconds
// (three decimals), its timestamp in the stream's time base (empty when the container
// gives none), keyframe 1 or 0, the picture type the decoder reports (I, P, B) and the file
// name. The command line and the program's bulk capture write the same list.
struct FrameListEntry
{
    int frame = -1;
    qint64 timeMs = 0;
    qint64 pts = FrameIndex::kNoTimestamp;
    bool key = false;
    char type = '?';
    QString file;
};

// The CSV text of `entries`, in their order.
QByteArray frameListCsv(const std::vector<FrameListEntry>& entries);
// The same for those of `entries` whose places are in `written` (the frames whose files
// were written, in any order), in the order of `entries`.
QByteArray frameListCsv(const std::vector<FrameListEntry>& entries, std::vector<int> written);

} // namespace framix
