#pragma once

#include "DefaultDevice.h"

#include <chrono>

// GUI thread (or any one thread at a time). Asks the desktop's sound server
// (PulseAudio, or PipeWire's pulse server) which ALSA card its default sink
// plays to. Never starts a server; with none running it answers at once,
// and a server that does not answer within `timeout` counts as none.
ServerDefault querySoundServerDefault(std::chrono::milliseconds timeout);
