#pragma once

#include <utility>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

// A queued call posted from a worker thread reaches the GUI thread under a
// lock inside Qt's own library (a futex), which the thread sanitizer cannot
// see: it would report every result handed back as a race, and the real races
// beside them would drown. A call wrapped here carries the hand-over with it:
// the sender releases once the call is fully built, the receiver acquires
// before it reads any of it. Other builds get the plain call.
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
