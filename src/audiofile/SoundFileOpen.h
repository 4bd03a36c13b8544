#pragma once

#include <QString>
#include <mutex>
#include <sndfile.h>

// libsndfile keeps the error of the last failed open in globals that every
// open writes and sf_strerror(nullptr) reads, so opens on several threads at
// once race and a failure may be told with another file's reason. The track
// loader, its part decoders and the waveform workers all open files, so every
// open for reading in the program goes through here, one at a time (the
// reading itself runs in parallel). Inline, so the program has one lock.
inline SNDFILE *openSoundFile(int fd, SF_INFO *info, QString *reason = nullptr)
{
    static std::mutex lock;
    const std::lock_guard guard(lock);
    SNDFILE *file = sf_open_fd(fd, SFM_READ, info, SF_FALSE);
    if (!file && reason)
        *reason = QString::fromUtf8(sf_strerror(nullptr));
    return file;
}
