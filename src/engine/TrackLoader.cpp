#include "TrackLoader.h"

#include "AudioFileCheck.h"
#include "FloatSampleScan.h"
#include "MemoryBudget.h"
#include "Mp3LeadIn.h"
#include "RawRead.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <limits>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// A decoder can make gigabytes out of kilobytes: minutes of digital silence
// in many channels compress to almost nothing. Real music compresses less
// than 3:1 and silence at the usual FLAC block size about 3000:1 in floats,
// so a decode that outgrows its file more than this is a bomb, not a track.
constexpr quint64 kMaxExpansion = 4096;
constexpr quint64 kExpansionSlack = 16ull << 20;

// The decode block starts this small and doubles as frames arrive.
constexpr std::size_t kFirstGrowth = 4u << 20;

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

// The memory of one load, weighed before every growth against its own
// ceiling and, with every other block the process holds, against the budget.
class LoadLedger
{
public:
    explicit LoadLedger(quint64 ceiling) : m_ceiling(ceiling) {}

    // Grows `block` to `bytes`; false, with the block unchanged, when refused.
    bool grow(TrackBlock &block, std::size_t bytes)
    {
        if (bytes <= block.size())
            return true;
        const quint64 increment = bytes - block.size();
        const quint64 before = m_own.fetch_add(increment, std::memory_order_relaxed);
        const quint64 others = TrackBlock::heldBytes() - std::min<quint64>(TrackBlock::heldBytes(), before);
        if (before + increment <= m_ceiling && trackMemoryAllows(increment, others, before) && block.resize(bytes))
            return true;
        m_own.fetch_sub(increment, std::memory_order_relaxed);
        m_refused.store(true, std::memory_order_relaxed);
        return false;
    }

    // Whether a growth was refused: the track is too large, not damaged.
    bool refused() const { return m_refused.load(std::memory_order_relaxed); }

private:
    const quint64 m_ceiling;
    std::atomic<quint64> m_own{0};
    std::atomic<bool> m_refused{false};
};

TrackLoad loadRaw(const QByteArray &path, const CheckedAudioFile &file, const std::stop_token &stop)
{
    LoadedTrack track;
    track.format = rawFormat(file.get(), file.info());
    const qint64 frameBytes = track.format.bytesPerFrame();
    if (!track.format.isValid() || frameBytes <= 0)
        return LoadProblem::UnsupportedCoding;
    const qint64 frames = file.announcedDataBytes() / frameBytes;
    const qint64 bytes = frames * frameBytes;
    LoadLedger ledger(kMaxTrackBytes);
    if (frames <= 0)
        return LoadProblem::Damaged;
    // The whole block up front: the header announced `bytes`, and a file
    // that yields fewer is cut short, no part of it played.
    if (quint64(bytes) > kMaxTrackBytes || !ledger.grow(track.block, std::size_t(bytes)))
        return LoadProblem::TooLarge;
    const std::variant<unsigned, LoadProblem> read = readRawData(path, file, track.format, track.block, stop);
    if (const auto *problem = std::get_if<LoadProblem>(&read))
        return *problem;
    track.totalFrames = frames;
    track.decodedParts = std::get<unsigned>(read);
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

// libsndfile marks a length it cannot tell (a FLAC stream whose header says
// 0) with its largest count.
std::optional<qint64> announcedFrames(const SF_INFO &info)
{
    if (info.frames < 0 || info.frames == std::numeric_limits<sf_count_t>::max())
        return std::nullopt;
    return info.frames;
}

// A long track is decoded in parts by one decoder per core: FLAC frames
// decode independently and seek exactly, MP3 frames after a lead-in
// (Mp3LeadIn.h). Below this many frames per part the threads cost more than
// they save.
constexpr qint64 kMinFramesPerPart = 1 << 18;
// Several parts a core, taken in turn: a core slowed by other work (the
// window starting, another program) takes fewer, and the decoders end
// together instead of one waiting for the other's half.
constexpr qint64 kPartsPerCore = 4;

unsigned decodeCores()
{
    return std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
}

bool isMp3(const SF_INFO &info)
{
    return (info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_MPEG;
}

unsigned partsFor(const SF_INFO &info, std::optional<qint64> frames)
{
    if (((info.format & SF_FORMAT_TYPEMASK) != SF_FORMAT_FLAC && !isMp3(info)) || !frames)
        return 1;
    const qint64 most = decodeCores() > 1 ? qint64(decodeCores()) * kPartsPerCore : 1;
    return unsigned(std::clamp<qint64>(*frames / kMinFramesPerPart, 1, most));
}

// One part of the track: frames from `first` on, decoded into a block of
// its own that grows as they arrive.
struct Part
{
    qint64 first = 0;
    std::optional<qint64> wanted; // none: to the end of the stream
    TrackBlock block;
    qint64 frames = 0;
    bool refused = false; // stopped, over budget, or implausible samples
    std::vector<float> leadIn; // MP3: decoded before `first`, then discarded
};

struct DecodeJob
{
    LoadLedger &ledger;
    const std::stop_token &stop;
    quint32 channels;
    quint64 ceiling;
    bool leadIn; // MP3: a part is entered through a lead-in
    // FLAC: integers scaled to [-1, 1) by the decoder, plausible by construction.
    bool integerSource;
};

// Grows the part's block to hold `frames` frames: double what it has, or
// just enough when doubling is refused.
bool makeRoom(Part &part, const DecodeJob &job, qint64 frames)
{
    const std::size_t frameBytes = job.channels * sizeof(float);
    const std::size_t need = std::size_t(frames) * frameBytes;
    if (need <= part.block.size())
        return true;
    std::size_t cap = std::size_t(job.ceiling);
    if (part.wanted)
        cap = std::min(cap, std::size_t(*part.wanted) * frameBytes);
    const std::size_t doubled = std::clamp(std::max(part.block.size() * 2, kFirstGrowth), need, std::max(cap, need));
    return job.ledger.grow(part.block, doubled) || job.ledger.grow(part.block, need);
}

bool enterPart(SNDFILE *file, Part &part, const DecodeJob &job)
{
    if (part.first == 0)
        return true;
    if (job.leadIn)
        return mp3leadin::enter(file, part.first, job.channels, part.leadIn);
    return sf_seek(file, part.first, SEEK_SET) == part.first;
}

void decodePart(SNDFILE *file, Part &part, const DecodeJob &job)
{
    if (!enterPart(file, part, job))
        return; // a header that claims more than the stream holds
    while (!part.wanted || part.frames < *part.wanted) {
        const qint64 chunk = part.wanted ? std::min(kLoadChunkFrames, *part.wanted - part.frames) : kLoadChunkFrames;
        if (job.stop.stop_requested() || !makeRoom(part, job, part.frames + chunk)) {
            part.refused = true;
            return;
        }
        const std::size_t frameBytes = job.channels * sizeof(float);
        part.block.prefault(std::size_t(part.frames) * frameBytes, std::size_t(chunk) * frameBytes);
        float *at = reinterpret_cast<float *>(part.block.data()) + part.frames * job.channels;
        const qint64 got = std::max<sf_count_t>(sf_readf_float(file, at, chunk), 0);
        if (!job.integerSource && !floatSamplesArePlausible(at, std::size_t(got) * job.channels)) {
            part.refused = true;
            return;
        }
        part.frames += got;
        if (got < chunk)
            return;
    }
}

// Decodes the parts `next` hands out, in turn, through one handle. Part 0
// is the first any handle takes, so it always starts from a fresh handle's
// first frame.
void takeParts(SNDFILE *file, std::vector<Part> &parts, std::atomic<std::size_t> &next, const DecodeJob &job)
{
    for (std::size_t p = next++; p < parts.size(); p = next++)
        decodePart(file, parts[p], job);
}

// Runs `work` on a handle of its own to the file at `path`; nothing when
// another file stands there since the first open, which would mix two tracks.
template <typename Work>
void withOwnHandle(const QByteArray &path, const CheckedAudioFile &original, Work work)
{
    auto opened = CheckedAudioFile::open(path);
    const auto *file = std::get_if<CheckedAudioFile>(&opened);
    if (file && file->sameFileAs(original))
        work(file->get());
}

// The parts joined, up to the first that came up short: a gap must not be
// played as if it were audio.
std::optional<TrackBlock> joinParts(std::vector<Part> &parts, quint32 frameBytes, qint64 &frames)
{
    std::vector<TrackBlock> kept;
    frames = 0;
    for (Part &part : parts) {
        if (part.refused || !part.block.resize(std::size_t(part.frames) * frameBytes))
            return std::nullopt;
        kept.push_back(std::move(part.block));
        frames += part.frames;
        if (!part.wanted || part.frames < *part.wanted)
            break;
    }
    TrackBlock block = TrackBlock::join(kept);
    if (!block && frames > 0)
        return std::nullopt;
    return block;
}

std::vector<Part> planParts(const SF_INFO &info, std::optional<qint64> frames)
{
    const unsigned count = partsFor(info, frames);
    std::vector<Part> parts(count);
    if (count == 1) {
        parts[0].wanted = frames;
        return parts;
    }
    // Part boundaries on whole pages of frames, so that the parts' pages
    // join into one block without a copy.
    const auto align = qint64(TrackBlock::pageSize());
    for (unsigned p = 0; p < count; ++p)
        parts[p].first = *frames * p / count / align * align;
    for (unsigned p = 0; p < count; ++p)
        parts[p].wanted = (p + 1 < count ? parts[p + 1].first : *frames) - parts[p].first;
    return parts;
}

void decodeAll(const QByteArray &path, const CheckedAudioFile &file, std::vector<Part> &parts, const DecodeJob &job)
{
    std::atomic<std::size_t> next{0};
    const std::size_t helpers = std::min<std::size_t>(parts.size(), decodeCores()) - 1;
    std::vector<std::thread> workers;
    workers.reserve(helpers); // no allocation may throw past a started thread
    // A helper that cannot open the same file leaves its parts to the others.
    const auto help = [&] { withOwnHandle(path, file, [&](SNDFILE *own) { takeParts(own, parts, next, job); }); };
    for (std::size_t t = 0; t < helpers; ++t) {
        try {
            workers.emplace_back(help);
        } catch (const std::system_error &) {
            break; // no thread to spare: the parts are taken here
        }
    }
    takeParts(file.get(), parts, next, job);
    for (std::thread &worker : workers)
        worker.join();
}

// MP3 parts stand for one pass only when every part but the last came out
// whole and every lead-in ended as the part before it did. Otherwise (a
// stream shorter than its header, a position the decoder could not reach,
// a reservoir deeper than the lead-in) the track is decoded again in one
// pass, which is what the parts stand in for.
bool partsJoinExactly(const std::vector<Part> &parts, quint32 channels)
{
    for (std::size_t p = 1; p < parts.size(); ++p) {
        const Part &before = parts[p - 1];
        const auto *end = reinterpret_cast<const float *>(before.block.data());
        if (before.frames != before.wanted || !mp3leadin::continues(parts[p].leadIn, end, before.frames, channels))
            return false;
    }
    return true;
}

std::vector<Part> decodeInParts(const QByteArray &path, const CheckedAudioFile &file, std::optional<qint64> announced,
                                const DecodeJob &job)
{
    std::vector<Part> parts = planParts(file.info(), announced);
    decodeAll(path, file, parts, job);
    const bool refused = std::any_of(parts.begin(), parts.end(), [](const Part &part) { return part.refused; });
    if (!job.leadIn || parts.size() == 1 || refused || partsJoinExactly(parts, job.channels))
        return parts;
    parts.clear();
    parts.emplace_back().wanted = announced;
    LoadLedger ledger(job.ceiling); // the parts given up hold nothing any more
    const DecodeJob onePass{ledger, job.stop, job.channels, job.ceiling, false, false};
    withOwnHandle(path, file, [&](SNDFILE *own) { decodePart(own, parts.front(), onePass); });
    return parts;
}

TrackLoad loadDecoded(const QByteArray &path, const CheckedAudioFile &file, const std::stop_token &stop)
{
    const SF_INFO &info = file.info();
    LoadedTrack track;
    track.format = decodedFormat(info);
    const quint32 frameBytes = track.format.bytesPerFrame();
    if (!track.format.isValid())
        return LoadProblem::Damaged;
    const quint64 ceiling = std::min(kMaxTrackBytes, quint64(file.fileSize()) * kMaxExpansion + kExpansionSlack);
    const std::optional<qint64> announced = announcedFrames(info);
    // The header is trusted to refuse at once, never to reserve.
    if (announced && *announced == 0)
        return LoadProblem::Damaged;
    if (announced && (quint64(*announced) > ceiling / frameBytes
                      || !trackMemoryAllows(quint64(*announced) * frameBytes, TrackBlock::heldBytes())))
        return LoadProblem::TooLarge;
    LoadLedger ledger(ceiling);
    const bool integerSource = track.format.integerSourceBits > 0;
    const DecodeJob job{ledger, stop, track.format.channels, ceiling, isMp3(info), integerSource};
    std::vector<Part> parts = decodeInParts(path, file, announced, job);
    std::optional<TrackBlock> block = joinParts(parts, frameBytes, track.totalFrames);
    if (stop.stop_requested())
        return LoadProblem::Unreadable;
    if (!block || track.totalFrames <= 0 || !block->resize(std::size_t(track.totalFrames) * frameBytes))
        return ledger.refused() ? LoadProblem::TooLarge : LoadProblem::Damaged;
    track.block = std::move(*block);
    track.decodedParts = unsigned(parts.size());
    return track;
}

LoadProblem problemOf(const FileRefusal &refusal)
{
    switch (refusal.kind) {
    case FileRefusal::Missing: return LoadProblem::Missing;
    case FileRefusal::PermissionDenied: return LoadProblem::PermissionDenied;
    case FileRefusal::Damaged: return LoadProblem::Damaged;
    case FileRefusal::NotPlayable: return LoadProblem::UnsupportedCoding;
    case FileRefusal::NotOfItsKind: break;
    default: return LoadProblem::Unreadable;
    }
    if (!refusal.named)
        return LoadProblem::NotAudio;
    switch (*refusal.named) {
    case AudioFamily::Wav: return LoadProblem::NotWav;
    case AudioFamily::Aiff: return LoadProblem::NotAiff;
    case AudioFamily::Flac: return LoadProblem::NotFlac;
    case AudioFamily::Mp3: return LoadProblem::NotMp3;
    }
    return LoadProblem::NotAudio;
}

bool isDecoded(const CheckedAudioFile &file)
{
    return file.family() == AudioFamily::Flac || file.family() == AudioFamily::Mp3;
}

} // namespace

TrackLoad loadTrack(const QByteArray &path, std::stop_token stop)
{
    if (path.isEmpty()) // no local file at all: a web link, say
        return LoadProblem::Unreadable;
    auto opened = CheckedAudioFile::open(path);
    if (const auto *refusal = std::get_if<FileRefusal>(&opened))
        return problemOf(*refusal);
    const auto *file = std::get_if<CheckedAudioFile>(&opened);
    if (stop.stop_requested())
        return LoadProblem::Unreadable;
    return isDecoded(*file) ? loadDecoded(path, *file, stop) : loadRaw(path, *file, stop);
}

std::optional<StreamFormat> loadedFormatOf(const QByteArray &path)
{
    auto opened = CheckedAudioFile::open(path);
    const auto *file = std::get_if<CheckedAudioFile>(&opened);
    if (!file)
        return std::nullopt;
    const StreamFormat format = isDecoded(*file) ? decodedFormat(file->info()) : rawFormat(file->get(), file->info());
    return format.isValid() ? std::optional<StreamFormat>(format) : std::nullopt;
}
