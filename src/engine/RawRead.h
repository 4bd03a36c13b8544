#pragma once

#include "TrackLoader.h"

#include <QByteArray>
#include <stop_token>
#include <variant>

class CheckedAudioFile;

// Any thread. Fills `block` with the first `block.size()` bytes of the data
// chunk of `file`, a WAV or AIFF opened from `path`, unchanged. A long track
// is read in parts, one thread per core (at most four), each into its own
// range of the block, so that the first-touch page faults and the copy from
// the page cache are shared out; a part on a thread of its own reads
// through the file opened again, the one `file` is, never another put at
// `path` meanwhile. Without a thread to spare a part is read on this one.
//
// Returns how many parts were read at once; Damaged when the file holds
// fewer bytes than that (the block then must not play) or, for float data,
// samples that are no numbers; Unreadable once `stop` is requested, within
// one read of kLoadChunkFrames.
std::variant<unsigned, LoadProblem> readRawData(const QByteArray &path, const CheckedAudioFile &file,
                                                const StreamFormat &format, TrackBlock &block,
                                                const std::stop_token &stop);
