#include "ChunkWalk.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <unistd.h>
#include <utility>
#include <variant>

bool FileBytes::read(qint64 offset, void *buffer, qint64 count) const
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

namespace {

// Real files hold a few dozen chunks; a walk longer than this is a crafted
// file trying to make the check itself slow.
constexpr int kMaxChunks = 4096;

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

// What the walk learnt.
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
std::variant<qint64, QString> nextChunk(const FileBytes &reader, qint64 end, quint64 size)
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
Problem walkList(const FileBytes &reader, qint64 start, quint64 size, int &chunks)
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
bool harmlessTail(const FileBytes &reader, qint64 pos)
{
    const qint64 left = reader.size() - pos;
    uchar tail[8] = {};
    if (left >= 8)
        return false;
    return left < 4 || (reader.read(pos, tail, left) && std::all_of(tail, tail + left, [](uchar c) { return c == 0; }));
}

Problem checkWavFormat(const FileBytes &reader, qint64 start, quint64 size)
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

Problem readDs64(const FileBytes &reader, qint64 start, quint64 size, Rf64Sizes &sizes)
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
bool isTrailingId3v1(const FileBytes &reader, qint64 pos)
{
    uchar h[8];
    return reader.size() - pos == 128 && reader.read(pos, h, 8) && std::memcmp(h, "TAG", 3) == 0
           && le32(h + 4) < 0x80000000u;
}

// The name and size of the top-level chunk at `pos`. `last` when what
// follows is an appended ID3v1 tag rather than a chunk.
Problem readChunkHeader(const FileBytes &reader, qint64 pos, int chunks, uchar (&h)[8], bool &last)
{
    if (chunks > kMaxChunks)
        return problem("it holds too many chunks");
    last = isTrailingId3v1(reader, pos);
    if (last)
        return std::nullopt;
    if (!reader.read(pos, h, 8))
        return problem("the file cannot be read");
    if (!printable(h))
        return problem("a chunk has no name");
    return std::nullopt;
}

// A chunk's size as its header gives it (a walk may correct it), or why the
// walk stops.
using ChunkSize = std::function<std::variant<quint64, QString>(const uchar *header, int chunks)>;
// Looks at one chunk; `stop` ends the walk at once, its tail unchecked.
using ChunkVisit = std::function<Problem(const uchar *header, qint64 content, quint64 size, int &chunks, bool &stop)>;

// The chunk loop RIFF and AIFF share: from offset 12 to the end, each chunk
// inside the file, then nothing after the last but an ID3v1 tag or padding.
// `dataId` names the chunk whose being cut short is the file's, not a chunk's.
Problem walkChunks(const FileBytes &reader, const char (&dataId)[5], const ChunkSize &sizeOf, const ChunkVisit &visit)
{
    int chunks = 0;
    qint64 pos = 12;
    uchar h[8];
    bool last = false;
    while (reader.size() - pos >= 8) {
        if (const Problem bad = readChunkHeader(reader, pos, ++chunks, h, last))
            return bad;
        if (last)
            break;
        const std::variant<quint64, QString> sized = sizeOf(h, chunks);
        if (const auto *why = std::get_if<QString>(&sized))
            return *why;
        const quint64 size = std::get<quint64>(sized);
        const qint64 content = pos + 8;
        if (size > quint64(reader.size() - content))
            return isId(h, dataId) ? QStringLiteral("the file is shorter than its %1 chunk").arg(QLatin1String(dataId))
                                   : QStringLiteral("a chunk is larger than the file");
        bool stop = false;
        if (const Problem bad = visit(h, content, size, chunks, stop); bad || stop)
            return bad;
        auto next = nextChunk(reader, content + qint64(size), size);
        if (const auto *why = std::get_if<QString>(&next))
            return *why;
        pos = std::get<qint64>(next);
    }
    if (!isTrailingId3v1(reader, pos) && !harmlessTail(reader, pos))
        return problem("the file ends in a cut chunk");
    return std::nullopt;
}

// RF64 keeps the real sizes of its large chunks in the first one, ds64.
std::variant<quint64, QString> riffChunkSize(const uchar *h, int chunks, bool rf64, const Rf64Sizes &ds64)
{
    const quint64 size = le32(h + 4);
    if (rf64 && chunks == 1 && !isId(h, "ds64"))
        return QStringLiteral("its ds64 chunk is missing");
    if (!rf64 || size != 0xffffffffu)
        return size;
    if (!isId(h, "data"))
        return QStringLiteral("a chunk's size is only in the ds64 table");
    return ds64.data;
}

Problem visitRiffChunk(const FileBytes &reader, const uchar *h, qint64 content, quint64 size, int &chunks,
                       bool rf64, quint32 riffSize, Rf64Sizes &ds64, Layout &layout, bool &stop)
{
    if (size < minimumWavChunk(h))
        return problem("a chunk is too small for its kind");
    if (isId(h, "ds64") && chunks == 1)
        return readDs64(reader, content, size, ds64);
    if (isId(h, "fmt ")) {
        if (std::exchange(layout.sawFormat, true))
            return problem("it has two format chunks");
        return checkWavFormat(reader, content, size);
    }
    if (isId(h, "data")) {
        if (layout.dataOffset >= 0)
            return problem("it has two data chunks");
        layout.dataOffset = content;
        layout.dataBytes = qint64(size);
        // A recording never closed properly: libsndfile takes the rest of
        // the file as its data, and so do we.
        if (size == 0 && !rf64 && riffSize == 8) {
            layout.dataBytes = reader.size() - content;
            stop = true;
            return layout.sawFormat ? std::nullopt : problem("it has no format chunk");
        }
        return std::nullopt;
    }
    if (isId(h, "LIST"))
        return walkList(reader, content, size, chunks);
    if (isId(h, "INFO") || isId(h, "ds64"))
        return problem("a chunk is out of place");
    return std::nullopt;
}

Problem walkRiff(const FileBytes &reader, bool rf64, Layout &layout)
{
    uchar header[8];
    if (!reader.read(0, header, 8))
        return problem("the file cannot be read");
    const quint32 riffSize = le32(header + 4);
    Rf64Sizes ds64;
    const Problem bad = walkChunks(
        reader, "data", [&](const uchar *h, int chunks) { return riffChunkSize(h, chunks, rf64, ds64); },
        [&](const uchar *h, qint64 content, quint64 size, int &chunks, bool &stop) {
            return visitRiffChunk(reader, h, content, size, chunks, rf64, riffSize, ds64, layout, stop);
        });
    if (bad)
        return bad;
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

Problem checkAiffCommon(const FileBytes &reader, qint64 start, quint64 size, bool aifc)
{
    uchar c[22];
    if (size < (aifc ? 22u : 18u) || !reader.read(start, c, aifc ? 22 : 18))
        return problem("its COMM chunk is too small");
    if (aifc && !isPcmCompression(c + 18))
        return QStringLiteral("it holds audio compressed as '%1', not PCM or float")
            .arg(QString::fromLatin1(reinterpret_cast<const char *>(c + 18), 4));
    return std::nullopt;
}

Problem readSoundData(const FileBytes &reader, qint64 start, quint64 size, Layout &layout)
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

Problem walkAiff(const FileBytes &reader, bool aifc, Layout &layout)
{
    const Problem bad = walkChunks(
        reader, "SSND", [](const uchar *h, int) { return std::variant<quint64, QString>(quint64(be32(h + 4))); },
        [&](const uchar *h, qint64 content, quint64 size, int &, bool &) -> Problem {
            if (isId(h, "COMM")) {
                if (std::exchange(layout.sawFormat, true))
                    return problem("it has two COMM chunks");
                return checkAiffCommon(reader, content, size, aifc);
            }
            return isId(h, "SSND") ? readSoundData(reader, content, size, layout) : std::nullopt;
        });
    if (bad)
        return bad;
    if (!layout.sawFormat || layout.dataOffset < 0)
        return problem("it has no COMM or no SSND chunk");
    return std::nullopt;
}

} // namespace

std::optional<QString> walkRiffChunks(const FileBytes &file, bool rf64, AudioDataSpan &data)
{
    Layout layout;
    Problem bad = walkRiff(file, rf64, layout);
    data = {layout.dataOffset, layout.dataBytes};
    return bad;
}

std::optional<QString> walkAiffChunks(const FileBytes &file, bool aifc, AudioDataSpan &data)
{
    Layout layout;
    Problem bad = walkAiff(file, aifc, layout);
    data = {layout.dataOffset, layout.dataBytes};
    return bad;
}
