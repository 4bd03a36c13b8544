#pragma once

#include <QString>

// The device picker's sample-rate badge: "LOADING" while the engine loads a
// track (the rate it still holds is the previous track's), "READY" until a
// rate is known, then whole kilohertz without decimals ("48 kHz") or one
// decimal ("44.1 kHz").
QString sampleRateLabel(double sampleRate, bool isLoading = false);
