#pragma once

#include <QtGlobal>
#include <optional>

// How much memory the track loader may still take. A hostile file can make
// a decoder produce gigabytes from kilobytes, and two tracks are in memory
// while one plays and the next loads, so every block is weighed against what
// the system has to give before it is taken.

// The memory the system reports available (MemAvailable, or the control
// group's limit less its use when that is tighter), less a margin kept for
// everything else: an eighth of the memory, at least 256 MiB. Nothing when it
// cannot be read. Any thread; reads /proc and /sys.
std::optional<quint64> memoryAvailableForTracks();

// Whether `requested` more bytes fit beside the blocks already in memory:
// `elsewhere` held by other loads and tracks, which count in full even where
// already resident, and `ownSoFar` already taken by this load, whose pages it
// has filled, so the system's figure counts them already.
bool trackMemoryAllows(quint64 requested, quint64 elsewhere, quint64 ownSoFar = 0);

// For tests: a ceiling on everything held plus the request, below the
// machine's budget; nothing restores the machine's. Any thread.
void setTrackMemoryCeiling(std::optional<quint64> bytes);
