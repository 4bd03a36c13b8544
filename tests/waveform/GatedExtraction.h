#pragma once

#include "WaveformLoader.h"

#include <QList>
#include <QUrl>
#include <algorithm>
#include <condition_variable>
#include <mutex>

// The real extraction behind a gate the test controls: every call waits at
// the gate until the test lets it through, and the gate stands either before
// the decoding (the decoder then sees any cancellation given meanwhile) or
// after it (the decoder has finished; its result waits to be handed back).
// Also counts how many calls are inside at once. Nothing here makes up a
// result: what comes out is makeWaveformData's own, on the test's real files.
class GatedExtraction
{
public:
    enum class Gate { BeforeDecoding, AfterDecoding };

    explicit GatedExtraction(Gate gate = Gate::BeforeDecoding) : m_gate(gate) {}

    WaveformLoader::Extractor extractor()
    {
        return [this](const QUrl &url, int maxSamples, const CancellationCheck &isCancelled) {
            enter();
            if (m_gate == Gate::BeforeDecoding)
                pass(url);
            WaveformResult result = makeWaveformData(url, maxSamples, isCancelled);
            if (m_gate == Gate::AfterDecoding)
                pass(url);
            leave();
            return result;
        };
    }

    // Lets every call through, now and from now on.
    void open()
    {
        std::unique_lock lock(m_mutex);
        m_open = true;
        m_changed.notify_all();
    }
    // Lets `count` more calls through, in the order they reach the gate or later.
    void release(int count)
    {
        std::unique_lock lock(m_mutex);
        m_permits += count;
        m_changed.notify_all();
    }

    // The URLs that reached the gate, in order.
    QList<QUrl> arrivals() const
    {
        std::unique_lock lock(m_mutex);
        return m_arrivals;
    }
    int inside() const
    {
        std::unique_lock lock(m_mutex);
        return m_inside;
    }
    int mostInside() const
    {
        std::unique_lock lock(m_mutex);
        return m_mostInside;
    }

private:
    void enter()
    {
        std::unique_lock lock(m_mutex);
        m_mostInside = std::max(m_mostInside, ++m_inside);
    }
    void leave()
    {
        std::unique_lock lock(m_mutex);
        --m_inside;
    }
    void pass(const QUrl &url)
    {
        std::unique_lock lock(m_mutex);
        m_arrivals.append(url);
        m_changed.wait(lock, [this] { return m_open || m_permits > 0; });
        if (!m_open)
            --m_permits;
    }

    const Gate m_gate;
    // Standard primitives, which the thread sanitizer sees into.
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_open = false;
    int m_permits = 0;
    int m_inside = 0;
    int m_mostInside = 0;
    QList<QUrl> m_arrivals;
};
