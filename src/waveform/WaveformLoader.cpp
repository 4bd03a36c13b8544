#include "WaveformLoader.h"

#include "ThreadHandover.h"

#include <QCoreApplication>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <cstdio>

struct WaveformLoader::Task
{
    explicit Task(const QUrl &url) : url(url) {}
    const QUrl url;
    std::atomic<bool> cancelled = false;
};

namespace {

void writeErrorLine(const QString &description)
{
    // One write, so that lines of several failures never interleave.
    const QByteArray line = "Waveform error: " + description.toUtf8() + '\n';
    std::fwrite(line.constData(), 1, std::size_t(line.size()), stdout);
    std::fflush(stdout);
}

} // namespace

WaveformLoader::WaveformLoader(QObject *parent)
    : WaveformLoader(makeWaveformData, QThread::idealThreadCount(), parent)
{
}

WaveformLoader::WaveformLoader(Extractor extractor, int maxThreads, QObject *parent)
    : QObject(parent), m_extractor(std::move(extractor))
{
    // A folder of hundreds of tracks must not start hundreds of decoders, and
    // decoding must not take the cores from playback and the interface.
    m_pool.setMaxThreadCount(std::clamp(maxThreads, 1, std::max(QThread::idealThreadCount(), 1)));
    m_pool.setThreadPriority(QThread::LowPriority);
}

WaveformLoader::~WaveformLoader()
{
    cancelWaveformLoading();
    m_pool.clear();
    handover::waitForDone(m_pool);
}

void WaveformLoader::loadWaveform(const QUrl &url)
{
    if (m_samples.contains(url) || m_loading.contains(url))
        return;
    setLoading(url, true);
    auto task = std::make_shared<Task>(url);
    // A handle left over from before a reset belongs to a task nobody could
    // cancel any more once replaced.
    if (const auto previous = m_tasks.value(url))
        previous->cancelled = true;
    m_tasks.insert(url, task);
    handover::start(m_pool, [this, task] { runTask(task); });
}

void WaveformLoader::cancelWaveformLoading()
{
    for (const auto &task : std::as_const(m_tasks))
        task->cancelled = true;
    m_tasks.clear();
}

void WaveformLoader::resetCaches()
{
    if (m_samples.isEmpty() && m_durations.isEmpty() && m_loading.isEmpty())
        return;
    m_samples.clear();
    m_durations.clear();
    m_loading.clear();
    emit cachesReset();
}

void WaveformLoader::waitForTasks()
{
    handover::waitForDone(m_pool);
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

void WaveformLoader::runTask(const std::shared_ptr<Task> &task)
{
    const WaveformError cancelled{WaveformError::Cancelled,
                                  QStringLiteral("The waveform of %1 was cancelled.").arg(task->url.toDisplayString())};
    WaveformResult result = cancelled;
    // A task cancelled while it waited for a worker never starts a decoder.
    if (!task->cancelled) {
        result = m_extractor(task->url, maxWaveformSamples, [&task] { return task->cancelled.load(); });
        if (std::holds_alternative<LoadedWaveform>(result) && task->cancelled)
            result = cancelled;
    }
    QMetaObject::invokeMethod(
        this, handover::Queued([this, task, result = std::move(result)] { finishTask(task, result); }),
        Qt::QueuedConnection);
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
    const bool changed = loading ? !m_loading.contains(url) : m_loading.contains(url);
    if (loading)
        m_loading.insert(url);
    else
        m_loading.remove(url);
    if (changed)
        emit loadingChanged(url);
}
