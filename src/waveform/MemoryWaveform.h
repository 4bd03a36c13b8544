#pragma once

#include "StreamFormat.h"
#include "TrackBlock.h"
#include "WaveformExtraction.h"

#include <memory>

// The frames of a track the player holds in memory to play it, shared with
// the player and never written while shared.
struct FramesInMemory
{
    std::shared_ptr<const TrackBlock> block;
    StreamFormat format;
    qint64 frames = 0;
};

// The waveform of the file at `url` from its frames in memory: the values and
// duration makeWaveformData() gives for the file, without decoding it again.
// Integer and float samples become libsndfile's floats by libsndfile's own
// exact scaling (FLAC and MP3 are in memory as libsndfile's floats already);
// only the header is read again, for the length it states. Any thread;
// `isCancelled` is polled before each bucket. Fails, naming the file, when
// the frames are in a layout no file of ours has.
WaveformResult makeWaveformFromMemory(const QUrl &url, const FramesInMemory &frames, int maxSamples,
                                      const CancellationCheck &isCancelled = {});
