#pragma once

#include <QString>

// The device picker's sample-rate badge: "READY" until a rate is known, then
// whole kilohertz without decimals ("48 kHz") or one decimal ("44.1 kHz").
QString sampleRateLabel(double sampleRate);
