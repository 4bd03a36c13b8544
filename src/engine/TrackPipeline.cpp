#include "TrackPipeline.h"

#include "TrackPath.h"

#include <algorithm>

TrackPipeline::TrackPipeline(std::unique_ptr<LoadRunner> runner, RenderFeed &feed, Handlers handlers,
                             QObject *parent)
    : QObject(parent)
    , m_feed(feed)
    , m_handlers(std::move(handlers))
    , m_runner(runner.release())
{
    m_runner->setParent(this);
    m_runner->setHandlers({
        [this](quint64 ticket, LoadRunner::Result result) { onFinished(ticket, std::move(result)); },
        [this](quint64 ticket, const StreamFormat &format) {
            if (ticket == m_playTicket)
                m_handlers.formatKnown(format);
        },
    });
}

TrackPipeline::~TrackPipeline()
{
    delete std::exchange(m_runner, nullptr);
}

void TrackPipeline::loadToPlay(const QUrl &url, double startFraction)
{
    dropLoadToPlay();
    m_playURL = url;
    m_startFraction = startFraction;
    if (isReadingAhead(url)) {
        // The file is being read already: that load now starts the track.
        m_playTicket = std::exchange(m_preloadTicket, 0);
        m_preloadingURL.clear();
        m_runner->promote(m_playTicket);
        return;
    }
    dropPreload();
    startLoad(m_playTicket, url, LoadRunner::Priority::Play);
}

void TrackPipeline::dropLoadToPlay()
{
    if (m_playTicket != 0)
        m_runner->cancel(std::exchange(m_playTicket, 0));
    m_seekWhileLoading.reset();
}

void TrackPipeline::preload(const QUrl &url)
{
    if (url.isEmpty() || !url.isLocalFile()) {
        dropPreload();
        return;
    }
    const MemoryTrack *ready = preloaded();
    if ((ready && ready->url == url) || isReadingAhead(url))
        return;
    dropPreload();
    m_preloadingURL = url;
    startLoad(m_preloadTicket, url, LoadRunner::Priority::Preload);
}

// The ticket is set before the start: a runner may finish within it.
void TrackPipeline::startLoad(quint64 &ticket, const QUrl &url, LoadRunner::Priority priority)
{
    ticket = ++m_lastTicket;
    m_runner->start(ticket, trackpath::bytesOf(url), priority);
}

void TrackPipeline::dropPreload()
{
    if (m_preloadTicket != 0)
        m_runner->cancel(std::exchange(m_preloadTicket, 0));
    m_preloadingURL.clear();
    m_preloaded.reset();
    m_feed.withdraw(); // freed here unless the render thread plays it
}

const MemoryTrack *TrackPipeline::preloaded() const
{
    return m_preloaded ? m_preloaded.get() : m_feed.offered();
}

std::unique_ptr<MemoryTrack> TrackPipeline::takePreloaded()
{
    reclaimOffer();
    return std::move(m_preloaded);
}

void TrackPipeline::offerPreload()
{
    const MemoryTrack *playing = m_feed.playing();
    if (m_preloaded && playing && m_preloaded->format == playing->format)
        m_preloaded = m_feed.offer(std::move(m_preloaded));
}

void TrackPipeline::reclaimOffer()
{
    if (std::unique_ptr<MemoryTrack> offer = m_feed.withdraw())
        m_preloaded = std::move(offer);
}

std::unique_ptr<MemoryTrack> TrackPipeline::takeAdvanced()
{
    std::unique_ptr<MemoryTrack> next = m_feed.takeAdvanced();
    if (next)
        offerPreload();
    return next;
}

void TrackPipeline::onFinished(quint64 ticket, LoadRunner::Result result)
{
    if (ticket == m_preloadTicket) {
        m_preloadTicket = 0;
        m_preloaded = makeTrack(std::exchange(m_preloadingURL, {}), std::move(result));
        offerPreload();
    } else if (ticket == m_playTicket) {
        m_playTicket = 0;
        finishPlayLoad(std::move(result));
    }
}

void TrackPipeline::finishPlayLoad(LoadRunner::Result result)
{
    Loaded loaded;
    loaded.problem = result.problem;
    loaded.track = makeTrack(m_playURL, std::move(result));
    if (loaded.track)
        loaded.startFrame = startFrameOf(*loaded.track);
    m_seekWhileLoading.reset();
    m_handlers.loadedToPlay(std::move(loaded));
}

std::unique_ptr<MemoryTrack> TrackPipeline::makeTrack(const QUrl &url, LoadRunner::Result result)
{
    if (!result.track || result.track->totalFrames <= 0 || !(result.track->format.sampleRate > 0))
        return nullptr;
    auto track = std::make_unique<MemoryTrack>();
    track->url = url;
    track->stamp = result.stamp;
    track->block = std::make_shared<const TrackBlock>(std::move(result.track->block));
    track->format = result.track->format;
    track->totalFrames = result.track->totalFrames;
    m_lastSerial = m_lastSerial == 0xFFFFFFFF ? 1 : m_lastSerial + 1;
    track->serial = m_lastSerial;
    return track;
}

// A seek made while loading names a time in the track now known; it wins
// over the start fraction when it lies within the track.
qint64 TrackPipeline::startFrameOf(const MemoryTrack &track)
{
    const double rate = track.format.sampleRate;
    const std::optional<double> seconds = m_seekWhileLoading;
    if (seconds && *seconds >= 0.0 && *seconds <= double(track.totalFrames) / rate)
        return std::min(qint64(*seconds * rate), track.totalFrames);
    return qint64(m_startFraction * double(track.totalFrames));
}
