#pragma once

#include <QString>

namespace framix {

class FrameNamer;

// Checks made before a capture writes anything, so that no run ever writes over what it
// reads or what it writes itself.

// Why `path` must not be written by a run that reads `input`, or "" when it may be: it is
// the input itself (under any name, through any link), or something other than a regular
// file (a folder, a device, a pipe), which a rename into place would destroy or never fill.
QString outputHazard(const QString& path, const QString& input);

// Why the run's own pictures must not be written into `dir` with these names, or "": the
// input file is there under a name the pictures take.
QString picturesHazard(const QString& dir, const FrameNamer& namer, const QString& extension,
                       const QString& input);

// Whether `path` is in `dir` under a name one of the run's pictures may take, so that the
// pictures and it would overwrite each other.
bool isPictureName(const QString& path, const QString& dir, const FrameNamer& namer,
                   const QString& extension, const QString& videoName);

} // namespace framix
