#pragma once

#include "LoadRunner.h"
#include "RenderFeed.h"

#include <QObject>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>

// The tracks on their way into memory: the one to play (its start fraction
// and a seek made while it loads) and the next one, read ahead and offered to
// the render thread to follow the playing track gaplessly.
//
// GUI thread only. Results come back through the handlers given at
// construction, never for a load that was superseded or dropped.
class TrackPipeline : public QObject
{
    Q_OBJECT
public:
    // A load to play ended: the track in memory and the frame it starts at,
    // or no track and why.
    struct Loaded
    {
        std::unique_ptr<MemoryTrack> track;
        qint64 startFrame = 0;
        LoadProblem problem = LoadProblem::Unreadable;
    };
    struct Handlers
    {
        std::function<void(Loaded loaded)> loadedToPlay;
        // The header of the track to play gave its format while it decodes.
        std::function<void(const StreamFormat &format)> formatKnown;
    };

    // GUI thread. `feed` must outlive the pipeline.
    TrackPipeline(std::unique_ptr<LoadRunner> runner, RenderFeed &feed, Handlers handlers,
                  QObject *parent = nullptr);
    // GUI thread. The runner goes first: no result reaches a half-gone owner.
    ~TrackPipeline() override;

    // GUI thread. Reads `url` to play from `startFraction` (0...1) of its
    // frames; the load reading it ahead already, if any, becomes this one.
    // A load to play before it is dropped.
    void loadToPlay(const QUrl &url, double startFraction);
    // GUI thread. The load to play is dropped, with its kept seek.
    void dropLoadToPlay();
    bool isLoadingToPlay() const { return m_playTicket != 0; }
    // GUI thread, while loading to play: the start moves to `seconds` when
    // they lie within the loaded track (the last call wins).
    void keepSeek(double seconds) { m_seekWhileLoading = seconds; }

    // GUI thread. Reads `url` ahead (a local file; else the read-ahead is
    // dropped). One track at most: a newer one replaces the older.
    void preload(const QUrl &url);
    // GUI thread. Drops the read-ahead, loaded or loading, and withdraws its
    // offer; one the render thread has taken stays with the render feed.
    void dropPreload();
    // GUI thread. The track read ahead, offered or not; null without one.
    const MemoryTrack *preloaded() const;
    // GUI thread, while no unit renders: the track read ahead, now the
    // caller's.
    std::unique_ptr<MemoryTrack> takePreloaded();
    // GUI thread. Offers the track read ahead to follow what the render
    // thread plays when it has the very format the device was opened for.
    void offerPreload();
    // GUI thread, before the render feed is cleared: an offer the render
    // thread did not take is kept as the read-ahead.
    void reclaimOffer();
    // GUI thread, on the render thread's news of a move on: the track it
    // went on into, now the caller's (null if it did not); a read-ahead that
    // waited for the hand-over is offered in turn.
    std::unique_ptr<MemoryTrack> takeAdvanced();

private:
    bool isReadingAhead(const QUrl &url) const { return m_preloadTicket != 0 && m_preloadingURL == url; }
    void startLoad(quint64 &ticket, const QUrl &url, LoadRunner::Priority priority);
    void onFinished(quint64 ticket, LoadRunner::Result result);
    void finishPlayLoad(LoadRunner::Result result);
    std::unique_ptr<MemoryTrack> makeTrack(const QUrl &url, LoadRunner::Result result);
    qint64 startFrameOf(const MemoryTrack &track);

    RenderFeed &m_feed;
    Handlers m_handlers;
    quint64 m_lastTicket = 0;
    quint64 m_playTicket = 0;
    QUrl m_playURL;
    double m_startFraction = 0.0;
    std::optional<double> m_seekWhileLoading;
    quint64 m_preloadTicket = 0;
    QUrl m_preloadingURL;
    // Read ahead and not offered; an offered one the render feed holds.
    std::unique_ptr<MemoryTrack> m_preloaded;
    quint32 m_lastSerial = 0;
    LoadRunner *m_runner = nullptr; // a child
};
