#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <optional>
#include <memory>
#include <sndfile.h>
#include <sys/stat.h>
#include <utility>
#include <variant>

// The four kinds of file the player reads.
enum class AudioFamily { Wav, Aiff, Flac, Mp3 };

// Why a file was not handed to a decoder.
struct FileRefusal
{
    enum Kind {
        Missing, Folder, PermissionDenied, NotRegularFile, Empty, Unreadable,
        NotOfItsKind, // its first bytes are not those of the family its name says, or of any
        Damaged,      // the right family, but its structure does not hold together
        NotPlayable,  // a sound file coded in a way the player does not play
    };
    Kind kind = NotPlayable;
    QString detail; // for the last three: what is wrong with the content, in a user's words
    std::optional<AudioFamily> named; // the family the file's extension names
};

// An audio file that passed every check, open for reading with libsndfile.
//
// libsndfile's parsers for formats we never play carry undefined behaviour
// and out-of-bounds writes, and its WAV parser loops forever on a LIST
// subchunk whose size wraps its 32-bit arithmetic. So before libsndfile sees
// a byte, the file is opened here without blocking (a FIFO or device node
// cannot stall us), must be a non-empty regular file, must start with the
// magic of the family its extension names (or, without a known extension, of
// any family), and for WAV, RF64 and AIFF its chunk tree is walked with
// 64-bit arithmetic: every chunk and LIST subchunk must fit inside its parent,
// and the format chunk must announce PCM or float. Only then is the
// descriptor handed to sf_open_fd, and the result must again be a container
// and codec pair we play: PCM or float in WAV, WAVEX, RF64 or AIFF(-C), FLAC,
// or MPEG layer III. Move-only; closes itself.
class CheckedAudioFile
{
public:
    // Any thread; blocks on file I/O only.
    // `path` is the file system's bytes (TrackPath.h).
    static std::variant<CheckedAudioFile, FileRefusal> open(const QByteArray &path);

    CheckedAudioFile(CheckedAudioFile &&other) noexcept = default;
    CheckedAudioFile &operator=(CheckedAudioFile &&other) noexcept;

    SNDFILE *get() const { return m_file.get(); }
    const SF_INFO &info() const { return m_info; }
    AudioFamily family() const { return m_family; }
    // WAV and AIFF: the bytes of audio data the header announces, which a
    // complete file holds (a partial frame at the end included). 0 otherwise.
    qint64 announcedDataBytes() const { return m_dataBytes; }
    // WAV and AIFF: where the first of those bytes lies in the file. -1 otherwise.
    qint64 dataOffset() const { return m_dataOffset; }
    // For reads by offset (pread), which leave libsndfile's position alone.
    int descriptor() const { return m_fd.fd; }
    qint64 fileSize() const { return qint64(m_stat.st_size); }
    // True when `other` is this very file, unchanged: for decoders that open
    // it again to read another part.
    bool sameFileAs(const CheckedAudioFile &other) const;

private:
    struct Fd
    {
        explicit Fd(int fd = -1) : fd(fd) {}
        Fd(Fd &&other) noexcept : fd(std::exchange(other.fd, -1)) {}
        Fd &operator=(Fd &&other) noexcept;
        ~Fd();
        int fd;
    };
    struct SndfileCloser
    {
        void operator()(SNDFILE *file) const { sf_close(file); }
    };

    CheckedAudioFile() = default;
    std::optional<FileRefusal> openRegular(const QByteArray &path);

    // Declared before the handle, so the descriptor outlives libsndfile's use of it.
    Fd m_fd;
    std::unique_ptr<SNDFILE, SndfileCloser> m_file;
    SF_INFO m_info{};
    AudioFamily m_family = AudioFamily::Wav;
    qint64 m_dataBytes = 0;
    qint64 m_dataOffset = -1;
    struct stat m_stat{};
};
