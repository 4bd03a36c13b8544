#include "AudioFileCheck.h"

#include "ChunkWalk.h"
#include "SoundFileOpen.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <unistd.h>

namespace {

// The containers the magic bytes tell apart.
enum class Container { Riff, Rf64, Aiff, Aifc, Flac, Mp3 };

bool isId(const uchar *p, const char (&id)[5]) { return std::memcmp(p, id, 4) == 0; }

// The extensions are ASCII, so the name's bytes need no decoding.
std::optional<AudioFamily> familyOfName(const QByteArray &path)
{
    const QByteArray name = path.mid(path.lastIndexOf('/') + 1);
    const qsizetype dot = name.lastIndexOf('.');
    const QByteArray suffix = dot <= 0 ? QByteArray() : name.mid(dot + 1).toLower();
    if (suffix == "wav")
        return AudioFamily::Wav;
    if (suffix == "aiff" || suffix == "aif")
        return AudioFamily::Aiff;
    if (suffix == "flac")
        return AudioFamily::Flac;
    if (suffix == "mp3")
        return AudioFamily::Mp3;
    return std::nullopt;
}

AudioFamily familyOf(Container container)
{
    switch (container) {
    case Container::Riff: case Container::Rf64: return AudioFamily::Wav;
    case Container::Aiff: case Container::Aifc: return AudioFamily::Aiff;
    case Container::Flac: return AudioFamily::Flac;
    case Container::Mp3: return AudioFamily::Mp3;
    }
    return AudioFamily::Wav;
}

// An MPEG audio frame header of layer III with no reserved field.
bool isMp3FrameSync(const uchar *p)
{
    const bool sync = p[0] == 0xff && (p[1] & 0xe0) == 0xe0;
    const bool version = ((p[1] >> 3) & 3) != 1;
    const bool layer3 = ((p[1] >> 1) & 3) == 1;
    const bool bitrate = (p[2] >> 4) != 15;
    const bool rate = ((p[2] >> 2) & 3) != 3;
    return sync && version && layer3 && bitrate && rate;
}

// Where the content after the leading ID3v2 tags starts (libsndfile skips
// them too), 0 without one, -1 when one is malformed.
qint64 afterId3(const FileBytes &reader)
{
    qint64 start = 0;
    for (int tags = 0; tags < 4; ++tags) {
        uchar h[10];
        if (!reader.read(start, h, 10) || std::memcmp(h, "ID3", 3) != 0 || h[3] < 2 || h[3] > 4)
            return start;
        if ((h[6] | h[7] | h[8] | h[9]) & 0x80)
            return -1; // not a synchsafe size
        start += 10 + (qint64(h[6]) << 21 | qint64(h[7]) << 14 | qint64(h[8]) << 7 | h[9]) + ((h[5] & 0x10) ? 10 : 0);
    }
    return -1;
}

std::optional<Container> sniff(const FileBytes &reader)
{
    uchar h[12] = {};
    if (!reader.read(0, h, std::min<qint64>(12, reader.size())))
        return std::nullopt;
    if (isId(h + 8, "WAVE") && isId(h, "RIFF"))
        return Container::Riff;
    if (isId(h + 8, "WAVE") && isId(h, "RF64"))
        return Container::Rf64;
    if (isId(h, "FORM") && isId(h + 8, "AIFF"))
        return Container::Aiff;
    if (isId(h, "FORM") && isId(h + 8, "AIFC"))
        return Container::Aifc;
    const qint64 start = afterId3(reader);
    uchar m[4];
    if (start < 0 || !reader.read(start, m, 4))
        return std::nullopt;
    if (isId(m, "fLaC")) {
        // STREAMINFO must come first, at its fixed size.
        uchar block[4];
        if (reader.read(start + 4, block, 4) && (block[0] & 0x7f) == 0 && block[1] == 0 && block[2] == 0
            && block[3] == 34)
            return Container::Flac;
        return std::nullopt;
    }
    if (isMp3FrameSync(m))
        return Container::Mp3;
    return std::nullopt;
}

// What the walk of a WAV or AIFF chunk tree learnt.
bool isPcmOrFloat(int subtype, bool signed8)
{
    switch (subtype) {
    case SF_FORMAT_PCM_S8: return signed8;
    case SF_FORMAT_PCM_U8: case SF_FORMAT_PCM_16: case SF_FORMAT_PCM_24: case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT: case SF_FORMAT_DOUBLE: return true;
    default: return false;
    }
}

// What libsndfile opened must be what the magic promised, coded in a way we play.
bool isPlayedPair(Container container, int format)
{
    const int major = format & SF_FORMAT_TYPEMASK, subtype = format & SF_FORMAT_SUBMASK;
    switch (container) {
    case Container::Riff:
        return (major == SF_FORMAT_WAV || major == SF_FORMAT_WAVEX) && isPcmOrFloat(subtype, false);
    case Container::Rf64: return major == SF_FORMAT_RF64 && isPcmOrFloat(subtype, false);
    case Container::Aiff: case Container::Aifc: return major == SF_FORMAT_AIFF && isPcmOrFloat(subtype, true);
    case Container::Flac:
        return major == SF_FORMAT_FLAC
               && (subtype == SF_FORMAT_PCM_S8 || subtype == SF_FORMAT_PCM_16 || subtype == SF_FORMAT_PCM_24);
    case Container::Mp3: return major == SF_FORMAT_MPEG && subtype == SF_FORMAT_MPEG_LAYER_III;
    }
    return false;
}

FileRefusal refusalForErrno(int error)
{
    switch (error) {
    case ENOENT: case ENOTDIR: return {FileRefusal::Missing, {}, {}};
    case EACCES: case EPERM: return {FileRefusal::PermissionDenied, {}, {}};
    default: return {FileRefusal::Unreadable, {}, {}};
    }
}


} // namespace

CheckedAudioFile::Fd &CheckedAudioFile::Fd::operator=(Fd &&other) noexcept
{
    if (this != &other) {
        if (fd >= 0)
            ::close(fd);
        fd = std::exchange(other.fd, -1);
    }
    return *this;
}

CheckedAudioFile::Fd::~Fd()
{
    if (fd >= 0)
        ::close(fd);
}

CheckedAudioFile &CheckedAudioFile::operator=(CheckedAudioFile &&other) noexcept
{
    if (this != &other) {
        m_file.reset(); // before its descriptor goes
        m_fd = std::move(other.m_fd);
        m_file = std::move(other.m_file);
        m_info = other.m_info;
        m_family = other.m_family;
        m_dataBytes = other.m_dataBytes;
        m_dataOffset = other.m_dataOffset;
        m_stat = other.m_stat;
    }
    return *this;
}

// Opens `path` unless it names no regular file with bytes in it.
std::optional<FileRefusal> CheckedAudioFile::openRegular(const QByteArray &path)
{
    m_fd = Fd(::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (m_fd.fd < 0)
        return refusalForErrno(errno);
    if (fstat(m_fd.fd, &m_stat) != 0)
        return FileRefusal{FileRefusal::Unreadable, {}, {}};
    if (S_ISDIR(m_stat.st_mode))
        return FileRefusal{FileRefusal::Folder, {}, {}};
    if (!S_ISREG(m_stat.st_mode))
        return FileRefusal{FileRefusal::NotRegularFile, {}, {}};
    if (m_stat.st_size <= 0)
        return FileRefusal{FileRefusal::Empty, {}, {}};
    return std::nullopt;
}

std::variant<CheckedAudioFile, FileRefusal> CheckedAudioFile::open(const QByteArray &path)
{
    CheckedAudioFile file;
    if (std::optional<FileRefusal> refused = file.openRegular(path))
        return *refused;
    const FileBytes reader(file.m_fd.fd, qint64(file.m_stat.st_size));
    const std::optional<Container> container = sniff(reader);
    const std::optional<AudioFamily> named = familyOfName(path);
    if (!container)
        return FileRefusal{FileRefusal::NotOfItsKind, QStringLiteral("its first bytes are not those of any of them"), named};
    if (named && *named != familyOf(*container))
        return FileRefusal{FileRefusal::NotOfItsKind, QStringLiteral("its content is of another kind than its name says"), named};
    AudioDataSpan data;
    std::optional<QString> bad;
    if (*container == Container::Riff || *container == Container::Rf64)
        bad = walkRiffChunks(reader, *container == Container::Rf64, data);
    else if (*container == Container::Aiff || *container == Container::Aifc)
        bad = walkAiffChunks(reader, *container == Container::Aifc, data);
    if (bad)
        return FileRefusal{FileRefusal::Damaged, *bad, named};

    QString reason;
    file.m_file.reset(openSoundFile(file.m_fd.fd, &file.m_info, &reason));
    if (!file.m_file)
        return FileRefusal{FileRefusal::Damaged, reason, named};
    if (!isPlayedPair(*container, file.m_info.format))
        return FileRefusal{FileRefusal::NotPlayable, QStringLiteral("it holds audio coded in a way the player does not play"), named};
    if (file.m_info.channels <= 0)
        return FileRefusal{FileRefusal::Damaged, QStringLiteral("it declares no audio channels"), named};
    file.m_family = familyOf(*container);
    file.m_dataBytes = std::max<qint64>(data.bytes, 0);
    file.m_dataOffset = data.offset;
    return file;
}

bool CheckedAudioFile::sameFileAs(const CheckedAudioFile &other) const
{
    const struct stat &a = m_stat, &b = other.m_stat;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size
           && a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}
