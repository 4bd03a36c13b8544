#pragma once

#include "MemoryWaveform.h"
#include "WaveformExtraction.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QTimer>
#include <QUrl>
#include <chrono>
#include <memory>

// Computes waveforms lazily, one background task per track URL, and keeps them
// until the next reset. Every public method is called on the thread that owns
// the loader (the GUI thread), and the caches change there only: a worker hands
// its result back through a queued invocation.
//
// The workers are threads of the loader's own, at low priority, at most one
// per core. A decoder can hang on a hostile file inside a library call that
// no cancellation reaches, so a task that reports no progress (its
// cancellation check is polled per decoded chunk) for `stallLimit` is
// abandoned: its URL fails as any other, its thread is written off and
// replaced, and nothing ever waits for it again, not even at quit.
//
// Waiting tasks start in the order the listener needs them: the playing (or
// loading) track, then the rows in view, then the head of a new queue. A row
// that leaves the view takes its waiting request with it; it asks again when
// it comes back.
class WaveformLoader : public QObject
{
    Q_OBJECT

public:
    static constexpr int maxWaveformSamples = 500;
    static constexpr std::chrono::milliseconds defaultStallLimit{30000};
    using Extractor = std::function<WaveformResult(const QUrl &, int, const CancellationCheck &)>;
    // Who asks, first served first.
    enum class Priority { Playing, InView, Prefetch };

    explicit WaveformLoader(QObject *parent = nullptr);
    // For tests and benchmarks: another extraction, at most `maxThreads`
    // extractions at once (clamped to 1 ... the number of cores), and another
    // time without progress after which a task is abandoned.
    WaveformLoader(Extractor extractor, int maxThreads, QObject *parent = nullptr,
                   std::chrono::milliseconds stallLimit = defaultStallLimit);
    // Cancels every task and gives the running ones a moment to stop; a
    // worker stuck in a decoder is left behind.
    ~WaveformLoader() override;

    // Starts a task unless the URL is loading or loaded; a waiting one moves
    // up to `priority`. A new Playing request sends the last one back to
    // Prefetch.
    void loadWaveform(const QUrl &url, Priority priority = Priority::InView);
    // A row of `url` came into view, or left it: the last to leave drops the
    // URL's request unless it has started or another asker holds it.
    void rowShown(const QUrl &url);
    void rowHidden(const QUrl &url);
    // The track at `url` is in memory to play: its waveform is made from those
    // frames by the pool, before any other request, and the file is not
    // decoded again: the URL's task that waits never starts a decoder, and one that
    // runs is cancelled. Nothing when the waveform is known.
    void loadWaveformFromMemory(const QUrl &url, const FramesInMemory &frames);
    // Asks every task to stop and forgets their handles; the caches stay.
    void cancelWaveformLoading();
    // Empties both caches and the loading set, as a new queue needs.
    void resetCaches();
    // Blocks until every task has ended or been abandoned, then delivers
    // their completions. For tests and benchmarks; never needed in normal use.
    void waitForTasks();
    // While a track is read into memory to play, no worker takes a task: the
    // load has the cores, and the pool never decodes the file it decodes.
    // Tasks already running go on.
    void yieldToPlayback(bool yield);
    // While held (the calls nest) no worker takes a task. A new queue holds
    // the pool while it fills: its rows ask for their waveforms before its
    // first track's load has begun, and no worker may decode that track
    // beside the load. Tests hold it to read the order in which tasks wait
    // (queuedURLs).
    void holdWorkers(bool hold);
    // The URLs of the tasks no worker has taken, in the order they will be.
    QList<QUrl> queuedURLs() const;

    const QHash<QUrl, QList<double>> &waveformSamplesByURL() const { return m_samples; }
    const QHash<QUrl, double> &waveformDurationsByURL() const { return m_durations; }
    const QSet<QUrl> &loadingWaveforms() const { return m_loading; }

    Q_INVOKABLE QList<double> samplesFor(const QUrl &url) const { return m_samples.value(url); }
    Q_INVOKABLE double durationFor(const QUrl &url) const { return m_durations.value(url); }
    Q_INVOKABLE bool hasWaveform(const QUrl &url) const { return m_samples.contains(url); }
    Q_INVOKABLE bool isLoading(const QUrl &url) const { return m_loading.contains(url); }

signals:
    void waveformChanged(const QUrl &url); // samples and duration stored for url
    void loadingChanged(const QUrl &url);  // url entered or left the loading set
    void cachesReset();

private:
    struct Task;
    struct Pool;

    void startWorkers();
    void abandonStalledTasks();
    void finishTask(const std::shared_ptr<Task> &task, const WaveformResult &result);
    void store(const QUrl &url, const LoadedWaveform &waveform);
    void setLoading(const QUrl &url, bool loading);
    void dropWaiting(const QUrl &url);
    std::shared_ptr<Task> waitingOrNewTask(const QUrl &url);
    void queueTask(const std::shared_ptr<Task> &task);
    void keepWorkersWaiting(bool Pool::*reason, bool wait);
    void prioritise(const std::shared_ptr<Task> &task, Priority priority);

    Extractor m_extractor;
    QHash<QUrl, QList<double>> m_samples;
    QHash<QUrl, double> m_durations;
    QSet<QUrl> m_loading;
    QHash<QUrl, std::shared_ptr<Task>> m_tasks; // waveformTasksByURL
    QHash<QUrl, int> m_rowsInView;              // rows showing each URL now
    std::shared_ptr<Task> m_playing;            // the task of the last Playing request
    std::shared_ptr<Pool> m_pool;               // shared with the workers, which may outlive the loader
    QTimer m_stallCheck;
};
