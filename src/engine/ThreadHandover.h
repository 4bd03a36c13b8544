#pragma once

#include <QRunnable>
#include <QThreadPool>
#include <utility>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

// Qt's thread pool and its queued calls pass work between threads under locks
// inside Qt's own library (futexes), which the thread sanitizer cannot see: it
// would report every hand-over of a task or a result as a race, and the real
// races beside them would drown. Work passed through here carries the
// hand-over with it: the sender releases once the work is fully built, the
// receiver acquires before it reads any of it. Other builds get plain calls.
namespace handover {

inline void released([[maybe_unused]] void *at)
{
#if defined(__SANITIZE_THREAD__)
    __tsan_release(at);
#endif
}

inline void acquired([[maybe_unused]] void *at)
{
#if defined(__SANITIZE_THREAD__)
    __tsan_acquire(at);
#endif
}

// Runs `work` once on one of `pool`'s threads; waitForDone() below sees all
// it did, its captures' destruction included.
template <typename Work>
void start(QThreadPool &pool, Work work)
{
    class Task final : public QRunnable
    {
    public:
        Task(QThreadPool &pool, Work &&work) : m_pool(pool), m_work(std::move(work)) { released(this); }
        void run() override
        {
            acquired(this);
            {
                Work work = std::move(m_work);
                work();
            }
            released(&m_pool);
        }

    private:
        QThreadPool &m_pool;
        Work m_work;
    };
    pool.start(new Task(pool, std::move(work)));
}

// QThreadPool::waitForDone() for a pool fed through start().
inline void waitForDone(QThreadPool &pool)
{
    pool.waitForDone();
    acquired(&pool);
}

// Wraps a call for QMetaObject::invokeMethod(..., Qt::QueuedConnection). Qt
// moves it into the event it posts, so the last move releases; the call, or
// the event's destruction when the receiver is gone first, acquires.
template <typename Call>
class Queued
{
public:
    explicit Queued(Call call) : m_call(std::move(call)) { released(this); }
    Queued(Queued &&other) : m_call(std::move(other.m_call)) { released(this); }
    Queued(const Queued &) = delete;
    Queued &operator=(const Queued &) = delete;
    Queued &operator=(Queued &&) = delete;
    ~Queued() { acquired(this); }

    void operator()()
    {
        acquired(this);
        m_call();
    }

private:
    Call m_call;
};

} // namespace handover
