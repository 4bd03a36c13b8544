#pragma once

#include <QElapsedTimer>

// Where the transport reads "now", in seconds from an arbitrary origin, so that
// progress can be tested without sleeping.
class Clock
{
public:
    virtual ~Clock() = default;
    virtual double now() const = 0;
};

// A monotonic clock: a wall-clock jump (NTP, suspend) must not make the
// progress bar leap.
class SteadyClock final : public Clock
{
public:
    SteadyClock() { m_timer.start(); }
    double now() const override { return double(m_timer.nsecsElapsed()) / 1e9; }

private:
    QElapsedTimer m_timer;
};
