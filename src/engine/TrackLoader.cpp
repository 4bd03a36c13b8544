#include "TrackLoader.h"

#include <QFile>
#include <QFileInfo>
#include <bit>
#include <algorithm>
#include <memory>
#include <sndfile.h>
#include <system_error>
#include <thread>
#include <vector>

namespace {

struct SndfileCloser
{
    void operator()(SNDFILE *file) const { sf_close(file); }
};
using SndfileHandle = std::unique_ptr<SNDFILE, SndfileCloser>;

SndfileHandle openFile(const QString &path, SF_INFO *info)
{
    *info = {};
    // Only regular files: opening a FIFO or a device node could block forever.
    if (!QFileInfo(path).isFile())
        return {};
    return SndfileHandle(sf_open(QFile::encodeName(path).constData(), SFM_READ, info));
}

bool setLayout(StreamFormat &format, int subtype)
{
    switch (subtype) {
    case SF_FORMAT_PCM_S8: format.kind = SampleKind::SignedInt; format.bitsPerSample = 8; return true;
    case SF_FORMAT_PCM_U8: format.kind = SampleKind::UnsignedInt; format.bitsPerSample = 8; return true;
    case SF_FORMAT_PCM_16: format.kind = SampleKind::SignedInt; format.bitsPerSample = 16; return true;
    case SF_FORMAT_PCM_24: format.kind = SampleKind::SignedInt; format.bitsPerSample = 24; return true;
    case SF_FORMAT_PCM_32: format.kind = SampleKind::SignedInt; format.bitsPerSample = 32; return true;
    case SF_FORMAT_FLOAT: format.kind = SampleKind::Float; format.bitsPerSample = 32; return true;
    case SF_FORMAT_DOUBLE: format.kind = SampleKind::Float; format.bitsPerSample = 64; return true;
    default: return false;
    }
}

// The stored layout of the data chunk, exactly: width, kind and byte order
// (AIFF is big-endian, AIFF-C 'sowt' little-endian, 8-bit WAV unsigned).
StreamFormat rawFormat(SNDFILE *file, const SF_INFO &info)
{
    StreamFormat format;
    format.sampleRate = info.samplerate;
    format.channels = info.channels > 0 ? quint32(info.channels) : 0;
    if (!setLayout(format, info.format & SF_FORMAT_SUBMASK))
        return {};
    const bool swapped = sf_command(file, SFC_RAW_DATA_NEEDS_ENDSWAP, nullptr, 0) == SF_TRUE;
    const bool hostBig = std::endian::native == std::endian::big;
    format.bigEndian = format.bitsPerSample > 8 && swapped != hostBig;
    return format;
}

// libsndfile clamps a data chunk that claims more bytes than the file holds
// and notes it in its log as "data : <claimed> (should be <real>)"; such a
// file is truncated or corrupt and is not played in part.
bool declaresMissingData(SNDFILE *file)
{
    char log[8192] = {};
    sf_command(file, SFC_GET_LOG_INFO, log, sizeof log);
    const QByteArrayList lines = QByteArray(log).split('\n');
    for (const QByteArray &line : lines) {
        const QByteArray trimmed = line.trimmed();
        const bool dataChunk = trimmed.startsWith("data ") || trimmed.startsWith("SSND ");
        if (dataChunk && trimmed.contains("(should be"))
            return true;
    }
    return false;
}

bool fitsInBlock(qint64 frames, quint32 bytesPerFrame)
{
    return frames > 0 && bytesPerFrame > 0
           && quint64(frames) <= kMaxTrackBytes / bytesPerFrame;
}

std::optional<LoadedTrack> loadRaw(const QString &path)
{
    SF_INFO info;
    SndfileHandle file = openFile(path, &info);
    if (!file || declaresMissingData(file.get()))
        return std::nullopt;
    LoadedTrack track;
    track.format = rawFormat(file.get(), info);
    const quint32 frameBytes = track.format.bytesPerFrame();
    if (!track.format.isValid() || !fitsInBlock(info.frames, frameBytes))
        return std::nullopt;
    const auto bytes = sf_count_t(info.frames) * frameBytes;
    track.block = TrackBlock::allocate(std::size_t(bytes));
    if (!track.block || sf_read_raw(file.get(), track.block.data(), bytes) != bytes)
        return std::nullopt;
    track.totalFrames = info.frames;
    return track;
}

quint32 integerSourceBits(int subtype)
{
    switch (subtype) {
    case SF_FORMAT_PCM_S8: case SF_FORMAT_PCM_U8: return 8;
    case SF_FORMAT_PCM_16: return 16;
    case SF_FORMAT_PCM_24: return 24;
    default: return 0;
    }
}

StreamFormat decodedFormat(const SF_INFO &info)
{
    StreamFormat format;
    format.sampleRate = info.samplerate;
    format.channels = info.channels > 0 ? quint32(info.channels) : 0;
    format.kind = SampleKind::Float;
    format.bitsPerSample = 32;
    format.bigEndian = std::endian::native == std::endian::big;
    if ((info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_FLAC)
        format.integerSourceBits = integerSourceBits(info.format & SF_FORMAT_SUBMASK);
    return format;
}

// FLAC frames decode independently and seek exactly, so a long FLAC track
// is decoded in parts, one decoder per core; below this many frames per part
// the threads cost more than they save.
constexpr qint64 kMinFramesPerPart = 1 << 18;

unsigned partsFor(const SF_INFO &info)
{
    if ((info.format & SF_FORMAT_TYPEMASK) != SF_FORMAT_FLAC)
        return 1;
    const auto cores = qint64(std::clamp(std::thread::hardware_concurrency(), 1u, 4u));
    return unsigned(std::clamp<qint64>(info.frames / kMinFramesPerPart, 1, cores));
}

// Decodes frames [first, first + count) of the open file into `out`; returns
// how many it really decoded.
qint64 decodeRange(SNDFILE *file, float *out, qint64 first, qint64 count, quint32 channels)
{
    if (first > 0 && sf_seek(file, first, SEEK_SET) != first)
        return 0;
    return std::max<sf_count_t>(sf_readf_float(file, out + first * channels, count), 0);
}

qint64 decodeRangeOf(const QString &path, float *out, qint64 first, qint64 count, quint32 channels)
{
    SF_INFO info;
    SndfileHandle file = openFile(path, &info);
    return file ? decodeRange(file.get(), out, first, count, channels) : 0;
}

// The frames really decoded are those before the first part that came up
// short: a gap must not be played as if it were audio.
qint64 contiguousFrames(const std::vector<qint64> &got, const std::vector<qint64> &wanted)
{
    qint64 total = 0;
    for (std::size_t p = 0; p < got.size(); ++p) {
        total += got[p];
        if (got[p] < wanted[p])
            break;
    }
    return total;
}

qint64 decodeAll(const QString &path, SNDFILE *file, const SF_INFO &info, float *out, quint32 channels)
{
    const unsigned parts = partsFor(info);
    std::vector<qint64> first(parts), wanted(parts), got(parts, 0);
    for (unsigned p = 0; p < parts; ++p) {
        first[p] = info.frames * p / parts;
        wanted[p] = info.frames * (p + 1) / parts - first[p];
    }
    std::vector<std::thread> workers;
    for (unsigned p = 1; p < parts; ++p) {
        const auto work = [&, p] { got[p] = decodeRangeOf(path, out, first[p], wanted[p], channels); };
        try {
            workers.emplace_back(work);
        } catch (const std::system_error &) {
            work(); // no thread to spare: decode the part here
        }
    }
    got[0] = decodeRange(file, out, 0, wanted[0], channels);
    for (std::thread &worker : workers)
        worker.join();
    return contiguousFrames(got, wanted);
}

std::optional<LoadedTrack> loadDecoded(const QString &path)
{
    SF_INFO info;
    SndfileHandle file = openFile(path, &info);
    if (!file)
        return std::nullopt;
    LoadedTrack track;
    track.format = decodedFormat(info);
    const quint32 frameBytes = track.format.bytesPerFrame();
    if (!track.format.isValid() || !fitsInBlock(info.frames, frameBytes))
        return std::nullopt;
    track.block = TrackBlock::allocate(std::size_t(info.frames) * frameBytes);
    if (!track.block)
        return std::nullopt;
    // A decoder may deliver fewer frames than the header announced: the
    // frames really decoded are the track.
    const auto samples = reinterpret_cast<float *>(track.block.data());
    track.totalFrames = decodeAll(path, file.get(), info, samples, track.format.channels);
    if (track.totalFrames <= 0)
        return std::nullopt;
    return track;
}

} // namespace

bool takesDecodePath(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == QLatin1String("flac") || suffix == QLatin1String("mp3");
}

std::optional<LoadedTrack> loadTrack(const QString &path, std::stop_token stop)
{
    if (stop.stop_requested())
        return std::nullopt;
    return takesDecodePath(path) ? loadDecoded(path) : loadRaw(path);
}
