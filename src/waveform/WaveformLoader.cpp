#include "WaveformLoader.h"

#include "StallGuardedWorker.h"
#include "ThreadHandover.h"
#include "TrackPath.h"

#include <QCoreApplication>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <optional>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// An idle worker ends after this long, as pool threads do.
constexpr auto kIdleExit = std::chrono::seconds(30);
// At quit, how long cancelled extractions get to reach their next check.
constexpr auto kQuitGrace = std::chrono::milliseconds(500);

// Waiting tasks start by priority, then first asked first.
constexpr auto byTurn = [](const auto &a, const auto &b) {
    return std::pair(a->priority, a->order) < std::pair(b->priority, b->order);
};

void writeErrorLine(const QString &description)
{
    // One write, so that lines of several failures never interleave.
    const QByteArray line = "Waveform error: " + description.toUtf8() + '\n';
    std::fwrite(line.constData(), 1, std::size_t(line.size()), stdout);
    std::fflush(stdout);
}

} // namespace

struct WaveformLoader::Task
{
    explicit Task(const QUrl &url) : url(url) {}
    const QUrl url;
    std::atomic<bool> cancelled = false;
    StallGuardedWorker *worker = nullptr;   // the one running it; guarded by Pool::mutex
    Priority priority = Priority::Prefetch; // guarded by Pool::mutex
    quint64 order = 0;                      // among equals, first asked first; guarded by Pool::mutex
    bool waiting = true;                    // no worker took it yet; guarded by Pool::mutex
    bool prefetched = false;                // asked for as the head of a new queue; GUI thread
    std::optional<FramesInMemory> frames;   // a track in memory to play, no file decoded; set before queueing
};

// What the workers share with the loader; it outlives the loader while any
// worker, even a hung one, still runs.
struct WaveformLoader::Pool
{
    Pool(Extractor extractor, int maxWorkers, std::chrono::milliseconds stallLimit)
        : extractor(std::move(extractor)), maxWorkers(maxWorkers), stallLimit(stallLimit) {}

    const Extractor extractor;
    const int maxWorkers;
    const std::chrono::milliseconds stallLimit;

    // Standard primitives, which the thread sanitizer sees into.
    std::mutex mutex;
    std::condition_variable taskQueued;
    std::condition_variable taskEnded;
    std::deque<std::shared_ptr<Task>> queue;
    std::vector<std::shared_ptr<Task>> running;
    // Counted against maxWorkers; those written off are not.
    std::vector<std::shared_ptr<StallGuardedWorker>> crew;
    int idle = 0;
    bool closing = false;
    int holds = 0; // holdWorkers() calls not yet undone
    bool yielding = false; // to a track being read to play
    quint64 lastOrder = 0;
    WaveformLoader *owner = nullptr; // gone at destruction; results are posted under the mutex

    WaveformResult run(const std::shared_ptr<Task> &task, StallGuardedWorker &worker) const;
    // The next waiting task: lowest priority value, then first asked.
    std::deque<std::shared_ptr<Task>>::iterator next();
    static void work(const std::shared_ptr<Pool> &pool, StallGuardedWorker &self);
};

std::deque<std::shared_ptr<WaveformLoader::Task>>::iterator WaveformLoader::Pool::next()
{
    return std::min_element(queue.begin(), queue.end(), byTurn);
}

WaveformResult WaveformLoader::Pool::run(const std::shared_ptr<Task> &task, StallGuardedWorker &worker) const
{
    const WaveformError cancelled{WaveformError::Cancelled,
                                  QStringLiteral("The waveform of %1 was cancelled.").arg(task->url.toDisplayString())};
    // A task cancelled while it waited for a worker never starts a decoder.
    if (task->cancelled)
        return cancelled;
    const auto isCancelled = [&task, &worker] {
        worker.progressed();
        return task->cancelled.load();
    };
    WaveformResult result = task->frames
                                ? makeWaveformFromMemory(task->url, *task->frames, maxWaveformSamples, isCancelled)
                                : extractor(task->url, maxWaveformSamples, isCancelled);
    if (std::holds_alternative<LoadedWaveform>(result) && task->cancelled)
        return cancelled;
    return result;
}

void WaveformLoader::Pool::work(const std::shared_ptr<Pool> &pool, StallGuardedWorker &self)
{
    // Decoding must not take the cores from playback and the interface; on
    // Linux a thread's nice value is its own.
    setpriority(PRIO_PROCESS, id_t(gettid()), 10);
    std::unique_lock lock(pool->mutex);
    for (;;) {
        ++pool->idle;
        const bool woken = pool->taskQueued.wait_for(
            lock, kIdleExit, [&] { return pool->closing || (!pool->queue.empty() && !pool->holds && !pool->yielding); });
        --pool->idle;
        if (!woken || pool->closing)
            break;
        const auto next = pool->next();
        std::shared_ptr<Task> task = std::move(*next);
        pool->queue.erase(next);
        task->waiting = false;
        task->worker = &self;
        self.progressed();
        pool->running.push_back(task);
        lock.unlock();
        WaveformResult result = pool->run(task, self);
        lock.lock();
        self.idle();
        if (self.writtenOff())
            return; // and replaced long ago
        std::erase(pool->running, task);
        if (WaveformLoader *owner = pool->owner) {
            QMetaObject::invokeMethod(
                owner, handover::Queued([owner, task, result = std::move(result)] { owner->finishTask(task, result); }),
                Qt::QueuedConnection);
        }
        pool->taskEnded.notify_all();
    }
    std::erase_if(pool->crew, [&self](const auto &worker) { return worker.get() == &self; });
    pool->taskEnded.notify_all();
}

WaveformLoader::WaveformLoader(QObject *parent)
    : WaveformLoader(makeWaveformData, QThread::idealThreadCount(), parent)
{
}

WaveformLoader::WaveformLoader(Extractor extractor, int maxThreads, QObject *parent,
                               std::chrono::milliseconds stallLimit)
    : QObject(parent)
    // A folder of hundreds of tracks must not start hundreds of decoders.
    , m_pool(std::make_shared<Pool>(std::move(extractor),
                                    std::clamp(maxThreads, 1, std::max(QThread::idealThreadCount(), 1)), stallLimit))
{
    m_pool->owner = this;
    m_stallCheck.setInterval(std::clamp(stallLimit / 4, std::chrono::milliseconds(10), std::chrono::milliseconds(5000)));
    connect(&m_stallCheck, &QTimer::timeout, this, &WaveformLoader::abandonStalledTasks);
}

WaveformLoader::~WaveformLoader()
{
    std::vector<std::shared_ptr<StallGuardedWorker>> crew;
    {
        std::lock_guard lock(m_pool->mutex);
        m_pool->closing = true;
        m_pool->owner = nullptr;
        for (const auto &task : m_pool->queue)
            task->cancelled = true;
        for (const auto &task : m_pool->running)
            task->cancelled = true;
        m_pool->queue.clear();
        m_pool->taskQueued.notify_all();
        crew = m_pool->crew;
    }
    const auto deadline = Clock::now() + kQuitGrace;
    for (const auto &worker : crew)
        worker->waitForEnd(deadline);
}

void WaveformLoader::loadWaveform(const QUrl &url, Priority priority)
{
    if (m_samples.contains(url))
        return;
    if (const std::shared_ptr<Task> task = waitingOrNewTask(url))
        prioritise(task, priority);
    // Also for a request that adds nothing: a worker that could not be
    // started before is tried again.
    startWorkers();
}

void WaveformLoader::loadWaveformFromMemory(const QUrl &url, const FramesInMemory &frames)
{
    if (m_samples.contains(url))
        return;
    auto task = std::make_shared<Task>(url);
    task->frames = frames;
    queueTask(task);
    prioritise(task, Priority::Playing);
    startWorkers();
}

// The URL's task, queued now unless one is loading already; none while a
// cancelled task of the URL still runs out before a reset.
std::shared_ptr<WaveformLoader::Task> WaveformLoader::waitingOrNewTask(const QUrl &url)
{
    if (m_loading.contains(url))
        return m_tasks.value(url);
    auto task = std::make_shared<Task>(url);
    queueTask(task);
    return task;
}

// Queues `task` as its URL's one. The task it replaces (left over from before
// a reset, or one that would decode a file now in memory) is cancelled: one
// waiting never starts a decoder, one running stops at its next chunk.
void WaveformLoader::queueTask(const std::shared_ptr<Task> &task)
{
    if (const auto previous = m_tasks.value(task->url))
        previous->cancelled = true;
    m_tasks.insert(task->url, task);
    setLoading(task->url, true);
    std::lock_guard lock(m_pool->mutex);
    m_pool->queue.push_back(task);
}

void WaveformLoader::prioritise(const std::shared_ptr<Task> &task, Priority priority)
{
    {
        std::lock_guard lock(m_pool->mutex);
        // One track plays at a time: the one before waits with the head of
        // the queue.
        if (priority == Priority::Playing && m_playing && m_playing != task)
            m_playing->priority = std::max(m_playing->priority, Priority::Prefetch);
        if (task->order == 0) // among equals, the first asked goes first
            task->order = ++m_pool->lastOrder;
        task->priority = std::min(task->priority, priority);
    }
    if (priority == Priority::Prefetch)
        task->prefetched = true;
    if (priority == Priority::Playing)
        m_playing = task;
}

void WaveformLoader::rowShown(const QUrl &url)
{
    ++m_rowsInView[url];
    loadWaveform(url, Priority::InView);
}

void WaveformLoader::rowHidden(const QUrl &url)
{
    const auto it = m_rowsInView.find(url);
    if (it == m_rowsInView.end() || --it.value() > 0)
        return;
    m_rowsInView.erase(it);
    dropWaiting(url);
}

// A request nobody needs any more goes before it costs a decode; the URL is
// then not requested, as after a failure.
void WaveformLoader::dropWaiting(const QUrl &url)
{
    const std::shared_ptr<Task> task = m_tasks.value(url);
    if (!task)
        return;
    {
        std::lock_guard lock(m_pool->mutex);
        if (!task->waiting || task->priority != Priority::InView)
            return;
        if (task->prefetched) { // still wanted as the head of the queue
            task->priority = Priority::Prefetch;
            return;
        }
        std::erase(m_pool->queue, task);
    }
    task->cancelled = true;
    m_tasks.remove(url);
    setLoading(url, false);
}

void WaveformLoader::yieldToPlayback(bool yield)
{
    keepWorkersWaiting(&Pool::yielding, yield);
}

void WaveformLoader::holdWorkers(bool hold)
{
    std::unique_lock lock(m_pool->mutex);
    m_pool->holds = std::max(m_pool->holds + (hold ? 1 : -1), 0);
    lock.unlock();
    startWorkers();
}

void WaveformLoader::keepWorkersWaiting(bool Pool::*reason, bool wait)
{
    std::unique_lock lock(m_pool->mutex);
    (*m_pool).*reason = wait;
    lock.unlock();
    startWorkers();
}

QList<QUrl> WaveformLoader::queuedURLs() const
{
    std::lock_guard lock(m_pool->mutex);
    std::vector<std::shared_ptr<Task>> waiting(m_pool->queue.begin(), m_pool->queue.end());
    std::stable_sort(waiting.begin(), waiting.end(), byTurn);
    QList<QUrl> urls;
    for (const auto &task : waiting)
        urls.append(task->url);
    return urls;
}

void WaveformLoader::startWorkers()
{
    std::lock_guard lock(m_pool->mutex);
    const auto waiting = qsizetype(m_pool->queue.size());
    for (qsizetype more = waiting - m_pool->idle; more > 0 && qsizetype(m_pool->crew.size()) < m_pool->maxWorkers;
         --more) {
        auto worker = StallGuardedWorker::launch(
            "quorvel-wave", [pool = m_pool](StallGuardedWorker &self) { Pool::work(pool, self); });
        if (!worker)
            break; // no thread to spare now; the stall check tries again
        // The worker waits for the lock held here before it looks at the crew.
        m_pool->crew.push_back(std::move(worker));
    }
    if (waiting > 0)
        m_pool->taskQueued.notify_all();
    if ((waiting > 0 || !m_pool->running.empty()) && !m_stallCheck.isActive())
        m_stallCheck.start();
}

void WaveformLoader::abandonStalledTasks()
{
    std::vector<std::shared_ptr<Task>> stalled;
    {
        std::lock_guard lock(m_pool->mutex);
        for (const auto &task : m_pool->running) {
            if (task->worker->stalledFor(m_pool->stallLimit)) {
                task->worker->writeOff();
                std::erase_if(m_pool->crew, [&task](const auto &worker) { return worker.get() == task->worker; });
                stalled.push_back(task);
            }
        }
        std::erase_if(m_pool->running, [](const auto &task) { return task->worker->writtenOff(); });
        if (m_pool->queue.empty() && m_pool->running.empty())
            m_stallCheck.stop();
    }
    const auto seconds = std::chrono::duration<double>(m_pool->stallLimit).count();
    for (const auto &task : stalled) {
        finishTask(task, WaveformError{WaveformError::Failed,
                                       QStringLiteral("Cannot make the waveform of \"%1\": its decoder made no "
                                                      "progress for %2 s and was abandoned.")
                                           .arg(trackpath::displayPath(trackpath::bytesOf(task->url)))
                                           .arg(seconds)});
        task->cancelled = true; // should the decoder ever come back
    }
    // Also when no worker could be started before: tasks still wait.
    startWorkers();
}

void WaveformLoader::cancelWaveformLoading()
{
    for (const auto &task : std::as_const(m_tasks))
        task->cancelled = true;
    m_tasks.clear();
}

void WaveformLoader::resetCaches()
{
    // A new queue builds its rows anew, and they say so.
    m_rowsInView.clear();
    m_playing.reset();
    if (m_samples.isEmpty() && m_durations.isEmpty() && m_loading.isEmpty())
        return;
    m_samples.clear();
    m_durations.clear();
    m_loading.clear();
    emit cachesReset();
}

void WaveformLoader::waitForTasks()
{
    for (;;) {
        abandonStalledTasks();
        startWorkers();
        std::unique_lock lock(m_pool->mutex);
        if (m_pool->queue.empty() && m_pool->running.empty())
            break;
        m_pool->taskEnded.wait_for(lock, std::chrono::milliseconds(20));
    }
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

void WaveformLoader::finishTask(const std::shared_ptr<Task> &task, const WaveformResult &result)
{
    const QUrl &url = task->url;
    const std::shared_ptr<Task> current = m_tasks.value(url);
    if (const auto *waveform = std::get_if<LoadedWaveform>(&result)) {
        // Stored even after a reset: the values are right for this URL, and a
        // newer task for it has nothing left to do.
        if (current && current != task)
            current->cancelled = true;
        m_tasks.remove(url);
        store(url, *waveform);
        setLoading(url, false);
        return;
    }
    const auto &error = std::get<WaveformError>(result);
    // Checked here, on the thread that cancels, so a cancelled task never logs.
    if (error.kind == WaveformError::Failed && !task->cancelled)
        writeErrorLine(error.description);
    // A stale task must not end the loading of a newer request for the URL.
    if (current && current != task)
        return;
    m_tasks.remove(url);
    setLoading(url, false);
}

void WaveformLoader::store(const QUrl &url, const LoadedWaveform &waveform)
{
    const bool changed = !m_samples.contains(url) || m_samples.value(url) != waveform.samples
                         || m_durations.value(url) != waveform.duration;
    m_samples.insert(url, waveform.samples);
    m_durations.insert(url, waveform.duration);
    if (changed)
        emit waveformChanged(url);
}

void WaveformLoader::setLoading(const QUrl &url, bool loading)
{
    if (loading == m_loading.contains(url))
        return;
    if (loading)
        m_loading.insert(url);
    else
        m_loading.remove(url);
    emit loadingChanged(url);
}
