#pragma once

#include <QString>
#include <memory>
#include <sndfile.h>

// A libsndfile reader that explains its failures in words a user understands.
class SoundFile
{
public:
    // Opens `path` for reading; on failure returns an invalid file and sets
    // `reason` (a clause such as "the file does not exist").
    static SoundFile open(const QString &path, QString *reason);

    bool isOpen() const { return m_file != nullptr; }
    // The reader's announced length; an estimate for some MP3 files, and
    // libsndfile never decodes past it.
    sf_count_t frames() const { return m_info.frames; }
    int channels() const { return m_info.channels; }
    int sampleRate() const { return m_info.samplerate; }

    // Reads up to `frames` interleaved float frames; 0 at the end or on error.
    sf_count_t readFrames(float *buffer, sf_count_t frames);
    // Why decoding stopped early, or empty when it did not.
    QString readError() const;

private:
    struct Closer
    {
        void operator()(SNDFILE *file) const { sf_close(file); }
    };
    std::unique_ptr<SNDFILE, Closer> m_file;
    SF_INFO m_info{};
};
