#pragma once

#include "WaveformLoader.h"

#include <QList>
#include <QUrl>
#include <algorithm>
#include <condition_variable>
#include <mutex>

// The real extraction behind a gate the test controls, before the decoding,
// so the decoder sees any cancellation given meanwhile. Also counts how many
// calls are inside at once. What comes out is makeWaveformData's own.
class GatedExtraction
{
    template<typename F>
    auto locked(F f)
    {
        std::unique_lock lock(m_mutex);
        m_changed.notify_all();
        return f();
    }

public:
    WaveformLoader::Extractor extractor()
    {
        return [this](const QUrl &url, int maxSamples, const CancellationCheck &isCancelled) {
            locked([&] { m_mostInside = std::max(m_mostInside, ++m_inside); });
            pass(url);
            WaveformResult result = makeWaveformData(url, maxSamples, isCancelled);
            locked([&] { --m_inside; });
            return result;
        };
    }

    // Lets every call through, now and from now on; or `count` more calls.
    void open() { locked([&] { m_open = true; }); }
    void release(int count) { locked([&] { m_permits += count; }); }

    QList<QUrl> arrivals() { return locked([&] { return m_arrivals; }); } // the URLs that reached the gate
    int inside() { return locked([&] { return m_inside; }); }
    int mostInside() { return locked([&] { return m_mostInside; }); }

private:
    void pass(const QUrl &url)
    {
        std::unique_lock lock(m_mutex);
        m_arrivals.append(url);
        m_changed.wait(lock, [this] { return m_open || m_permits > 0; });
        if (!m_open)
            --m_permits;
    }

    // Standard primitives, which the thread sanitizer sees into.
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_open = false;
    int m_permits = 0;
    int m_inside = 0;
    int m_mostInside = 0;
    QList<QUrl> m_arrivals;
};
