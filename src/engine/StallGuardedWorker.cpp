#include "StallGuardedWorker.h"

#include <pthread.h>
#include <system_error>
#include <thread>

namespace {
using Clock = std::chrono::steady_clock;
qint64 now() noexcept { return Clock::now().time_since_epoch().count(); }
} // namespace

std::shared_ptr<StallGuardedWorker> StallGuardedWorker::launch(const char *name, Body body)
{
    auto worker = std::make_shared<StallGuardedWorker>(Key{});
    try {
        std::thread([worker, name, body = std::move(body)] {
            pthread_setname_np(pthread_self(), name);
            body(*worker);
            worker->ended();
        }).detach();
    } catch (const std::system_error &) {
        return nullptr;
    }
    return worker;
}

void StallGuardedWorker::progressed() noexcept
{
    m_progressAt.store(now(), std::memory_order_relaxed);
}

void StallGuardedWorker::idle() noexcept
{
    m_progressAt.store(kIdle, std::memory_order_relaxed);
}

bool StallGuardedWorker::stalledFor(std::chrono::milliseconds limit) const noexcept
{
    const qint64 at = m_progressAt.load(std::memory_order_relaxed);
    return at != kIdle && now() - at > std::chrono::duration_cast<Clock::duration>(limit).count();
}

bool StallGuardedWorker::waitForEnd(std::chrono::steady_clock::time_point deadline)
{
    std::unique_lock lock(m_endMutex);
    return m_endChanged.wait_until(lock, deadline, [this] { return m_ended; });
}

void StallGuardedWorker::ended()
{
    std::lock_guard lock(m_endMutex);
    m_ended = true;
    m_endChanged.notify_all();
}
