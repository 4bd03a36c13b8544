#pragma once

#include <QString>
#include <QtGlobal>
#include <optional>

// Exact reads of a file's bytes by offset, without moving its offset (which
// libsndfile takes as the file's start).
class FileBytes
{
public:
    FileBytes(int fd, qint64 size) : m_fd(fd), m_size(size) {}
    qint64 size() const { return m_size; }
    // Exactly `count` bytes at `offset`, or false.
    bool read(qint64 offset, void *buffer, qint64 count) const;

private:
    int m_fd;
    qint64 m_size;
};

// Where a WAV or AIFF file keeps its samples, as its header announces.
struct AudioDataSpan
{
    qint64 offset = -1;
    qint64 bytes = 0;
};

// The chunk tree of a RIFF/WAVE or RF64 file (from byte 12 to the end of the
// file, as libsndfile reads it), walked with 64-bit arithmetic before
// libsndfile sees it: every chunk fits in the file and every LIST subchunk in
// its LIST, names are printable, the format chunk announces PCM or float, and
// nothing is laid out so that libsndfile's 32-bit reading of it could part
// ways with ours. Returns what is wrong in a user's words, or nothing and the
// data chunk's place. Any thread; pure but for reads.
std::optional<QString> walkRiffChunks(const FileBytes &file, bool rf64, AudioDataSpan &data);

// The same for FORM/AIFF and AIFC; AIFC's compression must store PCM or float.
std::optional<QString> walkAiffChunks(const FileBytes &file, bool aifc, AudioDataSpan &data);
