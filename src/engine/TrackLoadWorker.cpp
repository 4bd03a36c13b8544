#include "TrackLoadWorker.h"

#include "ThreadHandover.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <pthread.h>
#include <system_error>
#include <thread>

namespace {
using Clock = std::chrono::steady_clock;
// How long destruction lets a stopped load find its next check.
constexpr auto kExitGrace = std::chrono::seconds(2);
} // namespace

// One worker thread and what it shares with the GUI thread. The thread holds
// its own reference, so an abandoned lane outlives the worker object.
struct TrackLoadWorker::Lane
{
    struct Job
    {
        quint64 ticket = 0;
        QByteArray path;
        Priority priority = Priority::Play;
        std::stop_source stop;
    };

    LoadFunction load;
    ProbeFunction probe; // under the mutex
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Job> waiting;
    std::optional<Job> running;
    Clock::time_point runningSince;
    bool quit = false;
    bool exited = false;
    // Where results go; null once the worker is gone or gave up on the lane.
    TrackLoadWorker *receiver = nullptr;

    void run(const std::shared_ptr<Lane> &self)
    {
        pthread_setname_np(pthread_self(), "quorvel-load");
        std::unique_lock lock(mutex);
        for (;;) {
            wake.wait(lock, [this] { return quit || !waiting.empty(); });
            if (quit)
                break;
            Job job = std::move(waiting.front());
            waiting.pop_front();
            running = job;
            runningSince = Clock::now();
            lock.unlock();
            announceFormat(job);
            auto result = std::make_shared<Result>();
            result->stamp = fileStampOf(job.path);
            if (!job.stop.stop_requested())
                *result = Result(load(job.path, job.stop.get_token()), result->stamp);
            lock.lock();
            running.reset();
            if (job.stop.stop_requested() || !receiver)
                continue; // freed here, on the worker, at once
            TrackLoadWorker *to = receiver;
            const quint64 ticket = job.ticket;
            // Posted under the lock: the receiver cannot be destroyed meanwhile.
            QMetaObject::invokeMethod(
                to, handover::Queued([to, ticket, result] { to->deliver(ticket, std::move(*result)); }),
                Qt::QueuedConnection);
        }
        exited = true;
        wake.notify_all();
        Q_UNUSED(self);
    }

    // Worker thread, unlocked.
    void announceFormat(const Job &job)
    {
        ProbeFunction read;
        {
            std::lock_guard lock(mutex);
            if (job.priority != Priority::Play || !receiver)
                return;
            read = probe;
        }
        const std::optional<StreamFormat> format = read ? read(job.path) : std::nullopt;
        std::lock_guard lock(mutex);
        if (!format || job.stop.stop_requested() || !receiver)
            return;
        TrackLoadWorker *to = receiver;
        const quint64 ticket = job.ticket;
        const StreamFormat known = *format;
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
    std::unique_lock lock(m_lane->mutex);
    m_lane->receiver = nullptr;
    m_lane->quit = true;
    m_lane->waiting.clear();
    if (m_lane->running)
        m_lane->running->stop.request_stop();
    m_lane->wake.notify_all();
    // A load stops at its next chunk; one that hangs is not waited for.
    m_lane->wake.wait_for(lock, kExitGrace, [this] { return m_lane->exited; });
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
    m_lane = std::make_shared<Lane>();
    m_lane->load = m_load;
    m_lane->probe = m_probe;
    m_lane->receiver = this;
    std::shared_ptr<Lane> lane = m_lane;
    try {
        std::thread([lane] { lane->run(lane); }).detach();
    } catch (const std::system_error &) {
        // No thread: nothing will load, and every request fails below.
        m_lane->exited = true;
    }
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
        if (!m_lane->exited) {
            m_lane->waiting.push_back({ticket, path, priority, {}});
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
    if (m_lane->running && m_lane->running->ticket == ticket)
        m_lane->running->priority = Priority::Play;
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
    std::deque<Lane::Job> waiting;
    quint64 abandoned = 0;
    {
        std::lock_guard lock(m_lane->mutex);
        if (!m_lane->running) {
            if (m_lane->waiting.empty())
                m_watchdog.stop();
            return;
        }
        if (Clock::now() - m_lane->runningSince < m_patience)
            return;
        // Even a cancelled load that hangs must not hold up the queue; only
        // one still wanted is reported.
        if (!m_lane->running->stop.stop_requested())
            abandoned = m_lane->running->ticket;
        m_lane->running->stop.request_stop();
        m_lane->receiver = nullptr;
        m_lane->quit = true;
        waiting = std::move(m_lane->waiting);
        m_lane->wake.notify_all();
    }
    startLane();
    {
        std::lock_guard lock(m_lane->mutex);
        m_lane->waiting = std::move(waiting);
        m_lane->wake.notify_all();
    }
    if (abandoned != 0)
        deliver(abandoned, {});
}
