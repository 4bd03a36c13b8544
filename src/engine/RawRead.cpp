#include "RawRead.h"

#include "AudioFileCheck.h"
#include "FloatSampleScan.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// Below this many bytes per part a thread costs more than it saves.
constexpr std::size_t kMinBytesPerPart = 4u << 20;

struct RawJob
{
    const CheckedAudioFile &file;
    const StreamFormat &format;
    TrackBlock &block;
    const std::stop_token &stop;
    std::atomic<bool> failed{false}; // a part came up short: the others stop
};

// Bytes [begin, end) of the data chunk, and what went wrong reading them.
struct RawPart
{
    std::size_t begin = 0;
    std::size_t end = 0;
    std::optional<LoadProblem> problem;
};

// Part boundaries on whole pages: no page is faulted by two threads, and
// every float sample lies within one part.
std::vector<RawPart> planRawParts(std::size_t bytes)
{
    const auto cores = std::size_t(std::clamp(std::thread::hardware_concurrency(), 1u, 4u));
    const std::size_t count = std::clamp<std::size_t>(bytes / kMinBytesPerPart, 1, cores);
    const std::size_t page = TrackBlock::pageSize();
    std::vector<RawPart> parts(count);
    for (std::size_t p = 1; p < count; ++p)
        parts[p].begin = bytes / count * p / page * page;
    for (std::size_t p = 0; p < count; ++p)
        parts[p].end = p + 1 < count ? parts[p + 1].begin : bytes;
    return parts;
}

// Exactly `count` bytes at `offset`, or false at the end of the file or an error.
bool readExactly(int fd, std::byte *to, std::size_t count, qint64 offset)
{
    while (count > 0) {
        const ssize_t got = pread(fd, to, count, off_t(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        to += got;
        count -= std::size_t(got);
        offset += got;
    }
    return true;
}

std::optional<LoadProblem> readRange(int fd, RawJob &job, const RawPart &part)
{
    const std::size_t chunk = std::size_t(kLoadChunkFrames) * job.format.bytesPerFrame();
    const bool isFloat = job.format.kind == SampleKind::Float;
    for (std::size_t done = part.begin; done < part.end; done += chunk) {
        if (job.stop.stop_requested())
            return LoadProblem::Unreadable;
        if (job.failed.load(std::memory_order_relaxed))
            return std::nullopt; // the part that failed says why
        std::byte *at = job.block.data() + done;
        const std::size_t want = std::min(chunk, part.end - done);
        job.block.prefault(done, want);
        // The header announced these bytes: a file that holds fewer is cut short.
        if (!readExactly(fd, at, want, job.file.dataOffset() + qint64(done))
            || (isFloat && !storedFloatsArePlausible(at, want, job.format.bitsPerSample, job.format.bigEndian))) {
            job.failed.store(true, std::memory_order_relaxed);
            return LoadProblem::Damaged;
        }
    }
    return std::nullopt;
}

// A descriptor of its own gives each part its own read-ahead.
void readPartOpenedAgain(const QByteArray &path, RawJob &job, RawPart &part)
{
    auto opened = CheckedAudioFile::open(path);
    const auto *own = std::get_if<CheckedAudioFile>(&opened);
    // Another file at the path since the load opened it: read the one it opened.
    const int fd = own && own->sameFileAs(job.file) ? own->descriptor() : job.file.descriptor();
    part.problem = readRange(fd, job, part);
}

// Parts 1 on, each on a thread of its own while this one reads part 0.
std::vector<std::thread> startParts(const QByteArray &path, RawJob &job, std::vector<RawPart> &parts)
{
    std::vector<std::thread> workers;
    workers.reserve(parts.size()); // a growth that threw would leave started threads unjoined
    for (std::size_t p = 1; p < parts.size(); ++p) {
        const auto work = [&path, &job, &part = parts[p]] { readPartOpenedAgain(path, job, part); };
        try {
            workers.emplace_back(work);
        } catch (const std::system_error &) {
            work(); // no thread to spare: read the part here
        }
    }
    return workers;
}

} // namespace

std::variant<unsigned, LoadProblem> readRawData(const QByteArray &path, const CheckedAudioFile &file,
                                                const StreamFormat &format, TrackBlock &block,
                                                const std::stop_token &stop)
{
    if (file.dataOffset() < 0 || format.bytesPerFrame() == 0)
        return LoadProblem::Damaged;
    RawJob job{file, format, block, stop};
    std::vector<RawPart> parts = planRawParts(block.size());
    std::vector<std::thread> workers = startParts(path, job, parts);
    parts[0].problem = readRange(file.descriptor(), job, parts[0]);
    for (std::thread &worker : workers)
        worker.join();
    if (stop.stop_requested())
        return LoadProblem::Unreadable;
    for (const RawPart &part : parts) {
        if (part.problem)
            return *part.problem;
    }
    return unsigned(parts.size());
}
