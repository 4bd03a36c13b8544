#pragma once

#include "WaveformLoader.h"

#include <QHash>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

// A stand-in for the decoder that holds every extraction at a gate until the
// test opens it, records what it was asked, and answers as scripted.
class FakeExtraction
{
public:
    enum class Cancellation { Honour, Ignore };

    WaveformLoader::Extractor extractor()
    {
        return [this](const QUrl &url, int, const CancellationCheck &isCancelled) {
            return run(url, isCancelled);
        };
    }
    void script(const QUrl &url, const WaveformResult &result)
    {
        std::unique_lock lock(m_mutex);
        m_results.insert(url, result);
    }
    void setCancellation(Cancellation mode) { m_cancellation = mode; }
    void open()
    {
        std::unique_lock lock(m_mutex);
        m_open = true;
        m_gate.notify_all();
    }
    QList<QUrl> calls() const
    {
        std::unique_lock lock(m_mutex);
        return m_calls;
    }

private:
    WaveformResult run(const QUrl &url, const CancellationCheck &isCancelled)
    {
        std::unique_lock lock(m_mutex);
        m_calls.append(url);
        // Wakes now and then to notice a cancellation, as a decoder would.
        while (!m_open && !(m_cancellation == Cancellation::Honour && isCancelled()))
            m_gate.wait_for(lock, std::chrono::milliseconds(5));
        if (m_cancellation == Cancellation::Honour && isCancelled())
            return WaveformError{WaveformError::Cancelled, QStringLiteral("cancelled")};
        return m_results.value(url, LoadedWaveform{{0.25, 0.5}, 2.0});
    }

    // Standard primitives, which the thread sanitizer sees into.
    mutable std::mutex m_mutex;
    std::condition_variable m_gate;
    bool m_open = false;
    std::atomic<Cancellation> m_cancellation = Cancellation::Honour;
    QHash<QUrl, WaveformResult> m_results;
    QList<QUrl> m_calls;
};
