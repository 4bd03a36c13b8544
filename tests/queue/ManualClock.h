#pragma once

#include "Clock.h"

// A clock that moves only when told to.
class ManualClock final : public Clock
{
public:
    double now() const override { return m_now; }
    void advance(double seconds) { m_now += seconds; }

private:
    double m_now = 1000.0;
};
