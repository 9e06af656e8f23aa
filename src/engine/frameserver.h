#pragma once

#include "engineerror.h"
#include "mediainfo.h"
#include "videoframe.h"

#include <QImage>
#include <QObject>

#include <memory>

namespace framix {

// Runs a VideoSource on a worker thread of its own, so the UI thread never waits for
// indexing or a GOP's decoding. Requests are methods that return at once; only the newest
// frame request is kept, so a slider drag makes a few seeks, not hundreds. Results come
// back as signals, delivered on the thread the FrameServer lives in (the UI thread), with
// the picture already converted to RGB at its stored size.
//
// The public methods are called from the owner's thread.
class FrameServer : public QObject
{
    Q_OBJECT
public:
    explicit FrameServer(QObject* parent = nullptr);
    ~FrameServer() override;

    // Opens `path` (index from the cache or built); emits opened() or errorOccurred().
    // Cancels an open still in progress.
    void openFile(const QString& path);
    // Asks for frame n; replaces any request not started yet. Emits frameReady() or
    // errorOccurred().
    void requestFrame(int n);
    // Forgets the open file (and any pending request).
    void closeFile();
    void setCacheLimit(qint64 bytes);
    // Where index files go (empty: the default per-user cache folder).
    void setIndexCacheDir(const QString& dir);

signals:
    void opened(const framix::MediaInfo& info);
    void indexProgress(int percent);
    void frameReady(const framix::VideoFrame& frame, const QImage& image);
    void errorOccurred(const framix::EngineError& error);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace framix
