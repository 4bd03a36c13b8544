#pragma once

#include <QtGlobal>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>

// A thread of its own for work that can hang inside a library call no
// cancellation reaches (a decoder on a hostile file). The job in hand runs
// on a clock that the job winds by reporting progress; an owner that finds
// it stalled writes the worker off: what the job still produces is dropped,
// its thread is left to finish or hang on its own, and nothing waits for it
// again. The thread holds the worker (and its body what it shares with the
// owner), so a worker written off outlives its owner safely.
//
// What else the thread shares with its owner (a queue, where results go)
// stays under the owner's lock; the owner writes the worker off under that
// lock and the body reads writtenOff() under it, so that no result is
// handed to an owner that has given up on the worker.
class StallGuardedWorker
{
    struct Key
    {
    };

public:
    using Body = std::function<void(StallGuardedWorker &self)>;

    explicit StallGuardedWorker(Key) {}
    StallGuardedWorker(const StallGuardedWorker &) = delete;
    StallGuardedWorker &operator=(const StallGuardedWorker &) = delete;

    // Any thread. Runs `body` on a new detached thread named `name` (a
    // literal of at most 15 bytes); null, and nothing runs, when no thread
    // can be had.
    static std::shared_ptr<StallGuardedWorker> launch(const char *name, Body body);

    // Worker thread: a job began or made progress; its clock restarts.
    void progressed() noexcept;
    // Worker thread: no job in hand; an idle worker never stalls.
    void idle() noexcept;
    // Any thread: the job in hand has made no progress for longer than `limit`.
    bool stalledFor(std::chrono::milliseconds limit) const noexcept;

    // Any thread, under the owner's lock: nothing more is wanted from the
    // worker. Read by the body, under the same lock, before it hands
    // anything over.
    void writeOff() noexcept { m_writtenOff.store(true, std::memory_order_relaxed); }
    bool writtenOff() const noexcept { return m_writtenOff.load(std::memory_order_relaxed); }

    // Any thread but the worker's own: waits until the body has returned,
    // or `deadline` has passed; true when it returned.
    bool waitForEnd(std::chrono::steady_clock::time_point deadline);

private:
    void ended();

    static constexpr qint64 kIdle = std::numeric_limits<qint64>::min();
    // The steady clock's count at the last progress of the job in hand.
    std::atomic<qint64> m_progressAt{kIdle};
    std::atomic<bool> m_writtenOff{false};
    std::mutex m_endMutex;
    std::condition_variable m_endChanged;
    bool m_ended = false;
};
