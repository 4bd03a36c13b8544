// libFuzzer target: the track loader on any bytes under any audio name. A
// finding is a sanitizer report, a hang (-timeout), an out-of-memory, or a
// loaded track whose block does not match what it claims.
#include "FuzzInput.h"
#include "MemoryBudget.h"
#include "TrackLoader.h"

#include <QFile>

#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // A small machine: the budget must hold whatever a file claims.
    setTrackMemoryCeiling(512u << 20);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const TrackLoad loaded = loadTrack(QFile::encodeName(writeFuzzInput(data, size)));
    const auto *track = std::get_if<LoadedTrack>(&loaded);
    if (!track)
        return 0;
    const std::size_t bytes = std::size_t(track->totalFrames) * track->format.bytesPerFrame();
    if (track->totalFrames <= 0 || !track->format.isValid() || track->block.size() != bytes)
        std::abort();
    // Touch every page: a block shorter than its size faults here.
    unsigned sum = 0;
    for (std::size_t i = 0; i < bytes; i += 4096)
        sum += unsigned(track->block.data()[i]);
    return int(sum & 0);
}
