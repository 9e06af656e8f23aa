#pragma once

#include "engineerror.h"

#include <QByteArray>
#include <QString>

#include <vector>

namespace framix {

// Writes `bytes` to `path` so that `path` is either left as it was or holds all of them:
// the data goes to a hidden temporary file in the same folder (".framix-XXXXXX.part", short
// enough for any final name the file system allows), which is renamed over `path` only
// when every byte is written. A full disk or a crash leaves no half-written file under
// the final name (and removes the temporary one where it can). An existing `path` is
// replaced; whether that is wanted is the caller's decision. Thread-safe.
bool writeFileAtomically(const QString& path, const QByteArray& bytes, EngineError* error);
// The same, for callers that already hold the bytes elsewhere.
bool writeFileAtomically(const QString& path, const char* data, qint64 size, EngineError* error);
// The same for bytes held in several pieces, written one after the other.
struct ByteSpan
{
    const char* data;
    qint64 size;
};
bool writeFileAtomically(const QString& path, const std::vector<ByteSpan>& pieces,
                         EngineError* error);

// Removes the temporary files these writers left in `dir` more than an hour ago (a run
// killed mid-write leaves one behind): hidden files of their own naming pattern only, so
// nothing of anyone else's is touched. Returns how many were removed.
int removeStaleTemporaries(const QString& dir);

} // namespace framix
