#pragma once

#include "WaveformExtraction.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QThreadPool>
#include <QUrl>
#include <memory>

// Computes waveforms lazily, one background task per track URL, and keeps them
// until the next reset. Every public method is called on the thread that owns
// the loader (the GUI thread), and the caches change there only: a worker hands
// its result back through a queued invocation.
class WaveformLoader : public QObject
{
    Q_OBJECT

public:
    static constexpr int maxWaveformSamples = 500;
    using Extractor = std::function<WaveformResult(const QUrl &, int, const CancellationCheck &)>;

    explicit WaveformLoader(QObject *parent = nullptr);
    // For tests and benchmarks: another extraction, and at most `maxThreads`
    // extractions at once (clamped to 1 ... the number of cores).
    WaveformLoader(Extractor extractor, int maxThreads, QObject *parent = nullptr);
    // Cancels every task and waits for the running ones to stop.
    ~WaveformLoader() override;

    // Starts a task unless the URL is loading or loaded.
    void loadWaveform(const QUrl &url);
    // Asks every task to stop and forgets their handles; the caches stay.
    void cancelWaveformLoading();
    // Empties both caches and the loading set, as a new queue needs.
    void resetCaches();
    // Blocks until every task has ended, then delivers their completions.
    // For shutdown paths and tests; never needed in normal use.
    void waitForTasks();

    const QHash<QUrl, QList<double>> &waveformSamplesByURL() const { return m_samples; }
    const QHash<QUrl, double> &waveformDurationsByURL() const { return m_durations; }
    const QSet<QUrl> &loadingWaveforms() const { return m_loading; }
    int maxThreadCount() const { return m_pool.maxThreadCount(); }

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

    void runTask(const std::shared_ptr<Task> &task);
    void finishTask(const std::shared_ptr<Task> &task, const WaveformResult &result);
    void store(const QUrl &url, const LoadedWaveform &waveform);
    void setLoading(const QUrl &url, bool loading);

    Extractor m_extractor;
    QHash<QUrl, QList<double>> m_samples;
    QHash<QUrl, double> m_durations;
    QSet<QUrl> m_loading;
    QHash<QUrl, std::shared_ptr<Task>> m_tasks; // waveformTasksByURL
    QThreadPool m_pool;
};
