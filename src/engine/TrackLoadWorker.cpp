#include "TrackLoadWorker.h"

#include "StallGuardedWorker.h"
#include "ThreadHandover.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace {
// How long destruction lets a stopped load find its next check.
constexpr auto kExitGrace = std::chrono::seconds(2);
} // namespace

// The queue one worker thread serves and what it shares with the GUI
// thread. The thread holds its own reference, so a lane given up on outlives
// the worker object.
struct TrackLoadWorker::Lane
{
    struct Job
    {
        quint64 ticket = 0;
        QByteArray path;
        Priority priority = Priority::Play;
        std::stop_source stop;
        // Read from the header before the decode; heard of once it is to play.
        std::optional<StreamFormat> format;
        bool formatAnnounced = false;
    };

    Lane(TrackLoadWorker *receiver, LoadFunction load, ProbeFunction probe)
        : load(std::move(load)), probe(std::move(probe)), receiver(receiver)
    {
    }

    const LoadFunction load;
    ProbeFunction probe; // under the mutex
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Job> waiting;
    std::optional<Job> running;
    bool quit = false;
    // Where results go while the thread is not written off.
    TrackLoadWorker *const receiver;

    // A load reports no progress of its own: its time counts from its start.
    void run(StallGuardedWorker &thread)
    {
        std::unique_lock lock(mutex);
        for (;;) {
            wake.wait(lock, [this] { return quit || !waiting.empty(); });
            if (quit)
                return;
            Job job = std::move(waiting.front());
            waiting.pop_front();
            running = job;
            thread.progressed();
            lock.unlock();
            announceFormat(thread);
            auto result = std::make_shared<Result>();
            result->stamp = fileStampOf(job.path);
            if (!job.stop.stop_requested())
                *result = Result(load(job.path, job.stop.get_token()), result->stamp);
            lock.lock();
            running.reset();
            thread.idle();
            if (job.stop.stop_requested() || thread.writtenOff())
                continue; // freed here, on the worker, at once
            TrackLoadWorker *to = receiver;
            const quint64 ticket = job.ticket;
            // Posted under the lock: the receiver cannot be destroyed meanwhile.
            QMetaObject::invokeMethod(
                to, handover::Queued([to, ticket, result] { to->deliver(ticket, std::move(*result)); }),
                Qt::QueuedConnection);
        }
    }

    // Worker thread, unlocked. Every load reads its header first: a read-ahead
    // promoted while it decodes can then prepare the device at once.
    void announceFormat(const StallGuardedWorker &thread)
    {
        ProbeFunction read;
        QByteArray path;
        {
            std::lock_guard lock(mutex);
            if (thread.writtenOff() || !running)
                return;
            read = probe;
            path = running->path;
        }
        const std::optional<StreamFormat> format = read ? read(path) : std::nullopt;
        std::lock_guard lock(mutex);
        if (!format || !running || thread.writtenOff())
            return;
        running->format = format;
        if (running->priority == Priority::Play)
            postFormat(*running);
    }

    // Under the mutex: the GUI thread hears of the running job's format once.
    void postFormat(Job &job)
    {
        if (!job.format || job.formatAnnounced || job.stop.stop_requested())
            return;
        job.formatAnnounced = true;
        TrackLoadWorker *to = receiver;
        const quint64 ticket = job.ticket;
        const StreamFormat known = *job.format;
        QMetaObject::invokeMethod(
            to, handover::Queued([to, ticket, known] { to->m_onFormat(ticket, known); }), Qt::QueuedConnection);
    }
};

TrackLoadWorker::TrackLoadWorker(LoadFunction load, FinishedHandler onFinished,
                                 std::chrono::milliseconds patience, QObject *parent)
    : QObject(parent)
    , m_load(std::move(load))
    , m_onFinished(std::move(onFinished))
    , m_patience(patience)
{
    m_watchdog.setInterval(std::clamp<std::chrono::milliseconds>(patience / 4, std::chrono::milliseconds(10),
                                                                 std::chrono::seconds(1)));
    connect(&m_watchdog, &QTimer::timeout, this, &TrackLoadWorker::checkPatience);
    startLane();
}

TrackLoadWorker::~TrackLoadWorker()
{
    {
        std::lock_guard lock(m_lane->mutex);
        if (m_thread)
            m_thread->writeOff();
        m_lane->quit = true;
        m_lane->waiting.clear();
        if (m_lane->running)
            m_lane->running->stop.request_stop();
        m_lane->wake.notify_all();
    }
    // A load stops at its next chunk; one that hangs is not waited for.
    if (m_thread)
        m_thread->waitForEnd(std::chrono::steady_clock::now() + kExitGrace);
}

TrackLoadWorker::Result::Result(TrackLoad load, FileStamp stamp)
    : stamp(stamp)
{
    if (auto *track = std::get_if<LoadedTrack>(&load))
        this->track = std::move(*track);
    else
        problem = std::get<LoadProblem>(load);
}

void TrackLoadWorker::startLane()
{
    m_lane = std::make_shared<Lane>(this, m_load, m_probe);
    // Without a thread nothing will load, and every request fails at once.
    m_thread = StallGuardedWorker::launch("quorvel-load",
                                          [lane = m_lane](StallGuardedWorker &self) { lane->run(self); });
}

quint64 TrackLoadWorker::request(const QByteArray &path, Priority priority)
{
    if (priority == Priority::Play)
        cancelWhere([](Priority) { return true; });
    else
        cancelWhere([](Priority p) { return p == Priority::Preload; });
    const quint64 ticket = ++m_lastTicket;
    {
        std::lock_guard lock(m_lane->mutex);
        if (m_thread) {
            m_lane->waiting.push_back({ticket, path, priority, {}, std::nullopt, false});
            m_lane->wake.notify_all();
            m_watchdog.start();
            return ticket;
        }
    }
    QMetaObject::invokeMethod(this, [this, ticket] { deliver(ticket, {}); }, Qt::QueuedConnection);
    return ticket;
}

void TrackLoadWorker::promote(quint64 ticket)
{
    std::lock_guard lock(m_lane->mutex);
    for (Lane::Job &job : m_lane->waiting)
        if (job.ticket == ticket)
            job.priority = Priority::Play;
    if (m_lane->running && m_lane->running->ticket == ticket) {
        m_lane->running->priority = Priority::Play;
        m_lane->postFormat(*m_lane->running);
    }
}

void TrackLoadWorker::cancel(quint64 ticket)
{
    std::lock_guard lock(m_lane->mutex);
    std::erase_if(m_lane->waiting, [ticket](const Lane::Job &job) { return job.ticket == ticket; });
    if (m_lane->running && m_lane->running->ticket == ticket)
        m_lane->running->stop.request_stop();
}

void TrackLoadWorker::cancelWhere(const std::function<bool(Priority)> &which)
{
    std::lock_guard lock(m_lane->mutex);
    std::erase_if(m_lane->waiting, [&](const Lane::Job &job) { return which(job.priority); });
    if (m_lane->running && which(m_lane->running->priority))
        m_lane->running->stop.request_stop();
}

void TrackLoadWorker::setFormatProbe(ProbeFunction probe, FormatHandler onFormat)
{
    m_probe = probe;
    m_onFormat = std::move(onFormat);
    std::lock_guard lock(m_lane->mutex);
    m_lane->probe = std::move(probe);
}

void TrackLoadWorker::deliver(quint64 ticket, Result result)
{
    m_onFinished(ticket, std::move(result));
}

void TrackLoadWorker::checkPatience()
{
    quint64 abandoned = 0;
    {
        std::lock_guard lock(m_lane->mutex);
        if (!m_lane->running) {
            if (m_lane->waiting.empty())
                m_watchdog.stop();
            return;
        }
        if (!m_thread->stalledFor(m_patience))
            return;
        // Even a cancelled load that hangs must not hold up the queue; only
        // one still wanted is reported.
        if (!m_lane->running->stop.stop_requested())
            abandoned = m_lane->running->ticket;
        m_lane->running->stop.request_stop();
        m_thread->writeOff();
        m_lane->quit = true;
        m_lane->wake.notify_all();
    }
    const std::shared_ptr<Lane> previous = m_lane;
    startLane();
    takeQueueOf(*previous);
    if (abandoned != 0)
        deliver(abandoned, {});
}

// The queue of a lane given up on goes to its successor; without a thread to
// serve it every request in it fails, so that no load waits forever.
void TrackLoadWorker::takeQueueOf(Lane &previous)
{
    std::deque<Lane::Job> waiting;
    {
        std::lock_guard lock(previous.mutex);
        waiting = std::move(previous.waiting);
    }
    if (!m_thread) {
        for (const Lane::Job &job : waiting)
            QMetaObject::invokeMethod(this, [this, ticket = job.ticket] { deliver(ticket, {}); }, Qt::QueuedConnection);
        return;
    }
    std::lock_guard lock(m_lane->mutex);
    m_lane->waiting = std::move(waiting);
    m_lane->wake.notify_all();
}
