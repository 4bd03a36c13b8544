#pragma once

#include "AudioPlatform.h"
#include "FileStamp.h"
#include "StreamFormat.h"
#include "TrackBlock.h"

#include <QObject>
#include <QUrl>
#include <atomic>
#include <memory>
#include <optional>

class QSocketNotifier;

// A track in memory. The render thread reads the block of the track it was
// handed; the GUI thread frees a track only once no unit can read it. The
// block is never written once loaded, and may be shared with readers off the
// render thread (the waveform), which then free it last.
struct MemoryTrack
{
    QUrl url;
    FileStamp stamp;
    std::shared_ptr<const TrackBlock> block;
    StreamFormat format;
    qint64 totalFrames = 0;
    quint32 serial = 0;
};

// Everything the GUI thread and a unit's render thread share, lock-free: the
// track handed over, the next one offered for a gapless move, the frame, a
// seek, and what the render thread has to tell, coalesced into one atomic
// mask and one eventfd wake-up (which allocates nothing).
//
// Methods marked "GUI thread" run there only; the RenderSource methods run on
// the render thread and allocate, lock and do I/O not at all.
class RenderFeed final : public QObject, public RenderSource
{
    Q_OBJECT
public:
    // What the render thread tells, as bits of collectNews().
    enum News : int {
        Advanced = 1,     // went on into the offered next track
        PlayedOut = 2,    // ran dry and the device sounded the last frame
        DeviceFailed = 4, // the device vanished or failed
    };

    // GUI thread. Dies (qFatal) only when the process has no file descriptor
    // left for the wake-up: without it no end of a track would be learnt.
    explicit RenderFeed(QObject *parent = nullptr);
    ~RenderFeed() override;

    // GUI thread, while no unit renders: `track` plays from `frame` (clamped
    // to the track) when a unit starts; any seek is forgotten.
    void hand(MemoryTrack *track, qint64 frame);
    // GUI thread, while no unit renders: nothing is handed, an offer is
    // freed, and a move on that the render thread made still counts (see
    // collectNews); take what should live on first.
    void clear();
    // GUI thread, while no unit renders: the stream goes on from `frame`,
    // also after it ran dry.
    void rearm(qint64 frame);
    // GUI thread. The track the render thread reads (the offered one once it
    // moved on into it).
    MemoryTrack *playing() const { return m_track.load(std::memory_order_acquire); }

    // GUI thread. Takes `next` to follow the playing track gaplessly and
    // holds it until withdraw() gives it back or, once the render thread has
    // moved into it, takeAdvanced() hands it over: a track the render thread
    // may read is freed by no one else. One offer at a time: while one is
    // held, `next` comes straight back.
    std::unique_ptr<MemoryTrack> offer(std::unique_ptr<MemoryTrack> next);
    // GUI thread. The offer back, unless the render thread has taken it (it
    // plays then, and stays here until takeAdvanced()).
    std::unique_ptr<MemoryTrack> withdraw();
    // GUI thread. The offered track the render thread moved into, now the
    // caller's (the render thread never reads the one before it again);
    // null when it has not moved on.
    std::unique_ptr<MemoryTrack> takeAdvanced();
    // GUI thread. The track held as the offer, taken or not.
    const MemoryTrack *offered() const { return m_offer.get(); }

    // GUI thread. The next frame to be rendered; a seek's target while one
    // for the track with `serial` waits.
    qint64 frame(quint32 serial) const;
    // GUI thread, while no unit renders.
    void setFrame(qint64 frame) { m_frame.store(frame, std::memory_order_relaxed); }
    // GUI thread. The running unit moves to `frame` of the track with
    // `serial` before its next period; a seek meant for a track the stream
    // has left is dropped.
    void postSeek(quint32 serial, qint64 frame);
    // GUI thread. The waiting seek for the track with `serial`, taken.
    std::optional<qint64> takeSeek(quint32 serial);

    // GUI thread. What the render thread told since the last call (News
    // bits), the wake-up cleared.
    int collectNews();

    quint32 render(std::byte *out, quint32 frames) noexcept override;
    bool applyPendingSeek() noexcept override;
    void renderStopped(RenderEnd why) noexcept override;

signals:
    // GUI thread: the render thread has news; collectNews() reads it.
    void newsArrived();

private:
    void notify(int news) noexcept;

    std::atomic<MemoryTrack *> m_track{nullptr};
    std::atomic<MemoryTrack *> m_offeredNext{nullptr};
    // GUI thread: the offered track, owned until withdrawn or handed over.
    std::unique_ptr<MemoryTrack> m_offer;
    std::atomic<qint64> m_frame{0};
    // The track's serial in the high half, the frame in the low half; 0 when
    // no seek waits.
    std::atomic<quint64> m_seek{0};
    // Render thread only (reset while no unit renders): the track ran out
    // with nothing to follow, so the stream is ending.
    bool m_ranDry = false;
    std::atomic<int> m_news{0};
    int m_wakeFd = -1;
    QSocketNotifier *m_wakeNotifier = nullptr;
};
