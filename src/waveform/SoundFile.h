#pragma once

#include "AudioFileCheck.h"

#include <QString>
#include <optional>
#include <sndfile.h>

// A libsndfile reader, on a file that passed the audio file checks, that
// explains its failures in words a user understands.
class SoundFile
{
public:
    // Opens `path` for reading; on failure returns an invalid file and sets
    // `reason` (a clause such as "the file does not exist").
    static SoundFile open(const QByteArray &path, QString *reason);

    bool isOpen() const { return m_file.has_value(); }
    // The reader's announced length; an estimate for some MP3 files, and
    // libsndfile never decodes past it.
    sf_count_t frames() const { return m_file->info().frames; }
    int channels() const { return m_file->info().channels; }
    int sampleRate() const { return m_file->info().samplerate; }
    // MP3 lengths are estimates; every other format states its length.
    bool lengthIsEstimate() const { return m_file->family() == AudioFamily::Mp3; }

    // Reads up to `frames` interleaved float frames; 0 at the end or on error.
    sf_count_t readFrames(float *buffer, sf_count_t frames);
    // Why decoding stopped early, or empty when it did not.
    QString readError() const;

private:
    std::optional<CheckedAudioFile> m_file;
};
