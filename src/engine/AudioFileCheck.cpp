#include "AudioFileCheck.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <unistd.h>

namespace {

// The containers the magic bytes tell apart.
enum class Container { Riff, Rf64, Aiff, Aifc, Flac, Mp3 };

// Real files hold a few dozen chunks; a walk longer than this is a crafted
// file trying to make the check itself slow.
constexpr int kMaxChunks = 4096;

class Reader
{
public:
    Reader(int fd, qint64 size) : m_fd(fd), m_size(size) {}
    qint64 size() const { return m_size; }
    // Exactly `count` bytes at `offset`, or false.
    bool read(qint64 offset, void *buffer, qint64 count) const
    {
        if (offset < 0 || count < 0 || count > m_size - offset)
            return false;
        auto *out = static_cast<char *>(buffer);
        while (count > 0) {
            const ssize_t got = pread(m_fd, out, std::size_t(count), off_t(offset));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return false;
            out += got;
            offset += got;
            count -= got;
        }
        return true;
    }

private:
    int m_fd;
    qint64 m_size;
};

quint32 le32(const uchar *p) { return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24; }
quint32 be32(const uchar *p) { return quint32(p[3]) | quint32(p[2]) << 8 | quint32(p[1]) << 16 | quint32(p[0]) << 24; }
quint64 le64(const uchar *p) { return quint64(le32(p)) | quint64(le32(p + 4)) << 32; }
quint16 le16(const uchar *p) { return quint16(p[0] | p[1] << 8); }

bool isId(const uchar *p, const char (&id)[5]) { return std::memcmp(p, id, 4) == 0; }

// Chunk names are four printable ASCII characters; libsndfile reads
// anything else as garbage to resynchronise on or stop at.
bool printable(const uchar *p)
{
    return std::all_of(p, p + 4, [](uchar c) { return c >= 0x20 && c <= 0x7e; });
}

std::optional<AudioFamily> familyOfName(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("wav"))
        return AudioFamily::Wav;
    if (suffix == QLatin1String("aiff") || suffix == QLatin1String("aif"))
        return AudioFamily::Aiff;
    if (suffix == QLatin1String("flac"))
        return AudioFamily::Flac;
    if (suffix == QLatin1String("mp3"))
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
qint64 afterId3(const Reader &reader)
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

std::optional<Container> sniff(const Reader &reader)
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
struct Layout
{
    bool sawFormat = false;
    qint64 dataOffset = -1;
    qint64 dataBytes = 0;
};

using Problem = std::optional<QString>;

Problem problem(const char *text) { return QString::fromLatin1(text); }

// Where the chunk after one that ends at `end` starts. Chunks are padded to
// an even size with a zero byte; some writers leave the pad out, and then the
// next name follows at once. libsndfile skips the pad for some chunks and for
// the rest resynchronises byte by byte on a name that is not printable, so a
// zero pad leads it to the same place as us; a pad that could itself be read
// as the start of a name could lead it elsewhere, and is refused.
std::variant<qint64, QString> nextChunk(const Reader &reader, qint64 end, quint64 size)
{
    if (size % 2 == 0 || reader.size() - end < 1)
        return end;
    uchar here[4] = {}, after[4] = {};
    reader.read(end, here, std::min<qint64>(4, reader.size() - end));
    if (here[0] == 0)
        return end + 1;
    reader.read(end + 1, after, std::min<qint64>(4, reader.size() - end - 1));
    if (printable(here) && !printable(after))
        return end; // the writer left the pad out
    return QStringLiteral("a chunk is followed by a stray byte");
}

// LIST subchunks, read as libsndfile reads them. An INFO or adtl list holds
// named subchunks, each padded to an even size, and a zero name ends it;
// names that libsndfile reads another way (a bare INFO or adtl marker, data,
// exif) are refused, as is any subchunk that does not fit in its list. Other
// lists libsndfile reads from their type on, taking our first name as a
// size: a printable one is too big for it and ends the list at once, while
// anything else could send it astray.
Problem walkList(const Reader &reader, qint64 start, quint64 size, int &chunks)
{
    uchar type[4];
    if (size < 4 || !reader.read(start, type, 4))
        return problem("a LIST chunk is too small for its type");
    const bool named = isId(type, "INFO") || isId(type, "adtl");
    const qint64 end = start + qint64(size);
    qint64 pos = start + 4;
    if (!named) {
        uchar first[4];
        const bool ends = end - pos < 4 || (reader.read(pos, first, 4) && printable(first));
        return ends && size <= (1u << 24) ? std::nullopt : problem("a LIST chunk cannot be read");
    }
    while (end - pos >= 4) {
        if (++chunks > kMaxChunks)
            return problem("it holds too many chunks");
        uchar h[8] = {};
        if (!reader.read(pos, h, std::min<qint64>(8, end - pos)))
            return problem("the file cannot be read");
        if (le32(h) == 0)
            return std::nullopt;
        if (!printable(h) || end - pos < 8)
            return problem("a LIST chunk holds a subchunk without a name");
        if (isId(h, "INFO") || isId(h, "adtl") || isId(h, "data") || isId(h, "exif"))
            return problem("a LIST chunk holds a subchunk that cannot be read");
        const quint64 sub = le32(h + 4);
        if (sub > quint64(end - pos - 8))
            return problem("a LIST subchunk is larger than its LIST");
        pos += 8 + qint64(sub + (sub & 1));
    }
    return std::nullopt;
}

// Fewer than eight bytes after the last chunk: libsndfile still reads a
// name and a size from four or more of them, so they must be zero.
bool harmlessTail(const Reader &reader, qint64 pos)
{
    const qint64 left = reader.size() - pos;
    uchar tail[8] = {};
    if (left >= 8)
        return false;
    return left < 4 || (reader.read(pos, tail, left) && std::all_of(tail, tail + left, [](uchar c) { return c == 0; }));
}

Problem checkWavFormat(const Reader &reader, qint64 start, quint64 size)
{
    uchar f[40] = {};
    if (size < 16 || !reader.read(start, f, std::min<qint64>(40, qint64(size))))
        return problem("its format chunk is too small");
    const quint16 tag = le16(f);
    if (tag == 1 || tag == 3)
        return std::nullopt;
    // WAVE_FORMAT_EXTENSIBLE: the sub-format GUID names PCM (1) or float (3).
    static const uchar guidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                       0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71};
    if (tag == 0xfffe && size >= 40 && le16(f + 16) >= 22 && (le16(f + 24) == 1 || le16(f + 24) == 3)
        && std::memcmp(f + 26, guidTail, sizeof guidTail) == 0)
        return std::nullopt;
    return QStringLiteral("it holds audio coded as format 0x%1, not PCM or float").arg(tag, 4, 16, QLatin1Char('0'));
}

// libsndfile reads these chunks at a fixed size whatever their header says;
// a smaller one would move its reading off the chunk boundaries.
quint64 minimumWavChunk(const uchar *id)
{
    if (isId(id, "fact"))
        return 4;
    if (isId(id, "smpl"))
        return 36;
    if (isId(id, "acid"))
        return 24;
    return 0;
}

// The size of an RF64 chunk whose 32-bit field says "see ds64".
struct Rf64Sizes
{
    bool seen = false;
    quint64 data = 0;
};

Problem readDs64(const Reader &reader, qint64 start, quint64 size, Rf64Sizes &sizes)
{
    uchar d[28];
    if (size < 28 || !reader.read(start, d, 28))
        return problem("its ds64 chunk is too small");
    sizes.seen = true;
    sizes.data = le64(d + 8);
    return std::nullopt;
}

// An ID3v1 tag appended after the last chunk; libsndfile reads its start as
// a chunk name and its title as a size that leads past the end of the file.
bool isTrailingId3v1(const Reader &reader, qint64 pos)
{
    uchar h[8];
    return reader.size() - pos == 128 && reader.read(pos, h, 8) && std::memcmp(h, "TAG", 3) == 0
           && le32(h + 4) < 0x80000000u;
}

Problem walkRiff(const Reader &reader, bool rf64, Layout &layout)
{
    uchar header[8];
    if (!reader.read(0, header, 8))
        return problem("the file cannot be read");
    const quint32 riffSize = le32(header + 4);
    Rf64Sizes ds64;
    int chunks = 0;
    qint64 pos = 12;
    while (reader.size() - pos >= 8) {
        if (++chunks > kMaxChunks)
            return problem("it holds too many chunks");
        if (isTrailingId3v1(reader, pos))
            break;
        uchar h[8];
        if (!reader.read(pos, h, 8))
            return problem("the file cannot be read");
        if (!printable(h))
            return problem("a chunk has no name");
        quint64 size = le32(h + 4);
        if (rf64 && chunks == 1 && !isId(h, "ds64"))
            return problem("its ds64 chunk is missing");
        if (rf64 && size == 0xffffffffu) {
            if (!isId(h, "data"))
                return problem("a chunk's size is only in the ds64 table");
            size = ds64.data;
        }
        const qint64 content = pos + 8;
        if (size > quint64(reader.size() - content))
            return problem(isId(h, "data") ? "the file is shorter than its data chunk"
                                           : "a chunk is larger than the file");
        if (size < minimumWavChunk(h))
            return problem("a chunk is too small for its kind");
        Problem bad;
        if (isId(h, "ds64") && chunks == 1)
            bad = readDs64(reader, content, size, ds64);
        else if (isId(h, "fmt ")) {
            if (std::exchange(layout.sawFormat, true))
                return problem("it has two format chunks");
            bad = checkWavFormat(reader, content, size);
        } else if (isId(h, "data")) {
            if (layout.dataOffset >= 0)
                return problem("it has two data chunks");
            layout.dataOffset = content;
            layout.dataBytes = qint64(size);
            // A recording never closed properly: libsndfile takes the rest
            // of the file as its data, and so do we.
            if (size == 0 && !rf64 && riffSize == 8) {
                layout.dataBytes = reader.size() - content;
                return layout.sawFormat ? std::nullopt : problem("it has no format chunk");
            }
        } else if (isId(h, "LIST"))
            bad = walkList(reader, content, size, chunks);
        else if (isId(h, "INFO") || isId(h, "ds64"))
            return problem("a chunk is out of place");
        if (bad)
            return bad;
        auto next = nextChunk(reader, content + qint64(size), size);
        if (const auto *why = std::get_if<QString>(&next))
            return *why;
        pos = std::get<qint64>(next);
    }
    if (!isTrailingId3v1(reader, pos) && !harmlessTail(reader, pos))
        return problem("the file ends in a cut chunk");
    if (!layout.sawFormat || layout.dataOffset < 0)
        return problem("it has no format or no data chunk");
    return std::nullopt;
}

// AIFF-C compression types that store plain PCM or float samples.
bool isPcmCompression(const uchar *type)
{
    for (const char *pcm : {"NONE", "twos", "sowt", "raw ", "in24", "in32", "fl32", "FL32", "fl64", "FL64"}) {
        if (std::memcmp(type, pcm, 4) == 0)
            return true;
    }
    return false;
}

Problem checkAiffCommon(const Reader &reader, qint64 start, quint64 size, bool aifc)
{
    uchar c[22];
    if (size < (aifc ? 22u : 18u) || !reader.read(start, c, aifc ? 22 : 18))
        return problem("its COMM chunk is too small");
    if (aifc && !isPcmCompression(c + 18))
        return QStringLiteral("it holds audio compressed as '%1', not PCM or float")
            .arg(QString::fromLatin1(reinterpret_cast<const char *>(c + 18), 4));
    return std::nullopt;
}

Problem readSoundData(const Reader &reader, qint64 start, quint64 size, Layout &layout)
{
    uchar s[8];
    if (layout.dataOffset >= 0)
        return problem("it has two SSND chunks");
    if (size < 8 || !reader.read(start, s, 8))
        return problem("its SSND chunk is too small");
    const quint64 offset = be32(s);
    if (offset > size - 8)
        return problem("its SSND chunk points past its end");
    layout.dataOffset = start + 8 + qint64(offset);
    layout.dataBytes = qint64(size - 8 - offset);
    return std::nullopt;
}

Problem walkAiff(const Reader &reader, bool aifc, Layout &layout)
{
    int chunks = 0;
    qint64 pos = 12;
    while (reader.size() - pos >= 8) {
        if (++chunks > kMaxChunks)
            return problem("it holds too many chunks");
        if (isTrailingId3v1(reader, pos))
            break;
        uchar h[8];
        if (!reader.read(pos, h, 8))
            return problem("the file cannot be read");
        if (!printable(h))
            return problem("a chunk has no name");
        const quint64 size = be32(h + 4);
        const qint64 content = pos + 8;
        if (size > quint64(reader.size() - content))
            return problem(isId(h, "SSND") ? "the file is shorter than its SSND chunk"
                                           : "a chunk is larger than the file");
        Problem bad;
        if (isId(h, "COMM")) {
            if (std::exchange(layout.sawFormat, true))
                return problem("it has two COMM chunks");
            bad = checkAiffCommon(reader, content, size, aifc);
        } else if (isId(h, "SSND"))
            bad = readSoundData(reader, content, size, layout);
        if (bad)
            return bad;
        auto next = nextChunk(reader, content + qint64(size), size);
        if (const auto *why = std::get_if<QString>(&next))
            return *why;
        pos = std::get<qint64>(next);
    }
    if (!isTrailingId3v1(reader, pos) && !harmlessTail(reader, pos))
        return problem("the file ends in a cut chunk");
    if (!layout.sawFormat || layout.dataOffset < 0)
        return problem("it has no COMM or no SSND chunk");
    return std::nullopt;
}

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
    case ENOENT: case ENOTDIR: return {FileRefusal::Missing, {}};
    case EACCES: case EPERM: return {FileRefusal::PermissionDenied, {}};
    default: return {FileRefusal::Unreadable, {}};
    }
}

FileRefusal notPlayable(const QString &detail) { return {FileRefusal::NotPlayable, detail}; }

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
        m_stat = other.m_stat;
    }
    return *this;
}

std::variant<CheckedAudioFile, FileRefusal> CheckedAudioFile::open(const QString &path)
{
    CheckedAudioFile file;
    file.m_fd = Fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (file.m_fd.fd < 0)
        return refusalForErrno(errno);
    if (fstat(file.m_fd.fd, &file.m_stat) != 0)
        return FileRefusal{FileRefusal::Unreadable, {}};
    if (S_ISDIR(file.m_stat.st_mode))
        return FileRefusal{FileRefusal::Folder, {}};
    if (!S_ISREG(file.m_stat.st_mode))
        return FileRefusal{FileRefusal::NotRegularFile, {}};
    if (file.m_stat.st_size <= 0)
        return FileRefusal{FileRefusal::Empty, {}};

    const Reader reader(file.m_fd.fd, qint64(file.m_stat.st_size));
    const std::optional<Container> container = sniff(reader);
    const std::optional<AudioFamily> named = familyOfName(path);
    if (!container)
        return notPlayable(QStringLiteral("its first bytes are not those of any of them"));
    if (named && *named != familyOf(*container))
        return notPlayable(QStringLiteral("its content is of another kind than its name says"));
    Layout layout;
    Problem bad;
    if (*container == Container::Riff || *container == Container::Rf64)
        bad = walkRiff(reader, *container == Container::Rf64, layout);
    else if (*container == Container::Aiff || *container == Container::Aifc)
        bad = walkAiff(reader, *container == Container::Aifc, layout);
    if (bad)
        return notPlayable(*bad);

    file.m_file.reset(sf_open_fd(file.m_fd.fd, SFM_READ, &file.m_info, SF_FALSE));
    if (!file.m_file)
        return notPlayable(QString::fromUtf8(sf_strerror(nullptr)));
    if (!isPlayedPair(*container, file.m_info.format))
        return notPlayable(QStringLiteral("it holds audio coded in a way the player does not play"));
    if (file.m_info.channels <= 0)
        return notPlayable(QStringLiteral("it declares no audio channels"));
    file.m_family = familyOf(*container);
    file.m_dataBytes = std::max<qint64>(layout.dataBytes, 0);
    return file;
}

bool CheckedAudioFile::sameFileAs(const CheckedAudioFile &other) const
{
    const struct stat &a = m_stat, &b = other.m_stat;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size
           && a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}
