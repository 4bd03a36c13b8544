#include "RenderFeed.h"

#include <QSocketNotifier>
#include <algorithm>
#include <cstring>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

quint64 packSeek(quint32 serial, qint64 frame)
{
    return (quint64(serial) << 32) | quint64(std::clamp<qint64>(frame, 0, 0xFFFFFFFF));
}

// The frame of a packed seek when it is meant for the track with `serial`.
std::optional<qint64> unpackSeek(quint64 seek, quint32 serial)
{
    if (seek == 0 || quint32(seek >> 32) != serial)
        return std::nullopt;
    return qint64(seek & 0xFFFFFFFF);
}

} // namespace

RenderFeed::RenderFeed(QObject *parent)
    : QObject(parent)
    , m_wakeFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
    if (m_wakeFd < 0)
        qFatal("RenderFeed: eventfd failed");
    m_wakeNotifier = new QSocketNotifier(m_wakeFd, QSocketNotifier::Read, this);
    connect(m_wakeNotifier, &QSocketNotifier::activated, this, &RenderFeed::newsArrived);
}

RenderFeed::~RenderFeed()
{
    delete m_wakeNotifier;
    close(m_wakeFd);
}

void RenderFeed::hand(MemoryTrack *track, qint64 frame)
{
    // Everything the render thread reads is in place before a unit starts.
    m_track.store(track, std::memory_order_release);
    m_frame.store(track ? std::clamp<qint64>(frame, 0, track->totalFrames) : 0, std::memory_order_relaxed);
    m_seek.store(0);
    m_ranDry = false;
}

void RenderFeed::clear()
{
    m_offeredNext.store(nullptr, std::memory_order_relaxed);
    m_track.store(nullptr, std::memory_order_relaxed);
    m_offer.reset();
    m_seek.store(0);
}

void RenderFeed::rearm(qint64 frame)
{
    m_frame.store(frame, std::memory_order_relaxed);
    m_ranDry = false;
}

std::unique_ptr<MemoryTrack> RenderFeed::offer(std::unique_ptr<MemoryTrack> next)
{
    if (m_offer || !next)
        return next;
    m_offer = std::move(next);
    m_offeredNext.store(m_offer.get(), std::memory_order_release);
    return nullptr;
}

std::unique_ptr<MemoryTrack> RenderFeed::withdraw()
{
    if (!m_offer || m_offeredNext.exchange(nullptr, std::memory_order_acq_rel) == nullptr)
        return nullptr;
    return std::move(m_offer);
}

std::unique_ptr<MemoryTrack> RenderFeed::takeAdvanced()
{
    if (!m_offer || playing() != m_offer.get())
        return nullptr;
    return std::move(m_offer);
}

qint64 RenderFeed::frame(quint32 serial) const
{
    return unpackSeek(m_seek.load(std::memory_order_relaxed), serial)
        .value_or(m_frame.load(std::memory_order_relaxed));
}

void RenderFeed::postSeek(quint32 serial, qint64 frame)
{
    m_seek.store(packSeek(serial, frame), std::memory_order_relaxed);
}

std::optional<qint64> RenderFeed::takeSeek(quint32 serial)
{
    return unpackSeek(m_seek.exchange(0), serial);
}

int RenderFeed::collectNews()
{
    eventfd_t count = 0;
    [[maybe_unused]] const int cleared = eventfd_read(m_wakeFd, &count);
    return m_news.exchange(0, std::memory_order_acq_rel);
}

quint32 RenderFeed::render(std::byte *out, quint32 frames) noexcept
{
    MemoryTrack *track = m_track.load(std::memory_order_acquire);
    if (!out || !track || m_ranDry)
        return 0;
    const std::size_t frameBytes = track->format.bytesPerFrame();
    quint32 written = 0;
    while (written < frames) {
        const qint64 current = m_frame.load(std::memory_order_relaxed);
        const qint64 n = std::min<qint64>(track->totalFrames - current, frames - written);
        if (n > 0) {
            std::memcpy(out + std::size_t(written) * frameBytes,
                        track->block->data() + std::size_t(current) * frameBytes, std::size_t(n) * frameBytes);
            m_frame.store(current + n, std::memory_order_relaxed);
            written += quint32(n);
            continue;
        }
        // Out of frames: go on into the next track, in the same period.
        MemoryTrack *next = m_offeredNext.exchange(nullptr, std::memory_order_acq_rel);
        if (!next) {
            m_ranDry = true;
            break;
        }
        m_track.store(next, std::memory_order_release);
        m_frame.store(0, std::memory_order_relaxed);
        track = next;
        notify(Advanced);
    }
    return written;
}

// A track that ran dry keeps its seek for the GUI thread, which restarts
// the output from memory.
bool RenderFeed::applyPendingSeek() noexcept
{
    const MemoryTrack *track = m_track.load(std::memory_order_acquire);
    if (!track || m_ranDry)
        return false;
    quint64 request = m_seek.load(std::memory_order_relaxed);
    if (request == 0 || !m_seek.compare_exchange_strong(request, 0))
        return false;
    // A seek meant for the track before a move on is dropped.
    const std::optional<qint64> frame = unpackSeek(request, track->serial);
    if (!frame)
        return false;
    m_frame.store(std::min(*frame, track->totalFrames), std::memory_order_relaxed);
    return true;
}

void RenderFeed::renderStopped(RenderEnd why) noexcept
{
    notify(why == RenderEnd::PlayedOut ? PlayedOut : DeviceFailed);
}

void RenderFeed::notify(int news) noexcept
{
    m_news.fetch_or(news, std::memory_order_acq_rel);
    [[maybe_unused]] const int written = eventfd_write(m_wakeFd, 1);
}
