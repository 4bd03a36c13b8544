#include "MemoryBudget.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

constexpr quint64 kMinMargin = 256ull << 20;
// Control groups without a limit report one near 2^63.
constexpr quint64 kNoLimit = 1ull << 60;

std::atomic<quint64> g_ceiling{0}; // 0: none

std::string readSmallFile(const std::string &path)
{
    std::string text;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return text;
    char buffer[4096];
    for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) != 0;) {
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 || text.size() > (1u << 16))
            break;
        text.append(buffer, std::size_t(got));
    }
    ::close(fd);
    return text;
}

std::optional<quint64> number(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    quint64 value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end == text.data())
        return std::nullopt;
    return value;
}

// The number after `key` at the start of a line of `text`.
std::optional<quint64> field(const std::string &text, std::string_view key)
{
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        const std::string_view line(text.data() + at, end - at);
        if (line.substr(0, key.size()) == key)
            return number(line.substr(key.size()));
        at = end + 1;
    }
    return std::nullopt;
}

struct Memory
{
    quint64 total = 0;
    quint64 available = 0;
};

std::optional<Memory> systemMemory()
{
    const std::string info = readSmallFile("/proc/meminfo");
    const auto total = field(info, "MemTotal:"), available = field(info, "MemAvailable:");
    if (!total || !available)
        return std::nullopt;
    return Memory{*total * 1024, *available * 1024};
}

// The memory control group of this process, version 2 or 1: its limit, and
// that limit less what the group uses beyond reclaimable file pages.
std::optional<Memory> groupMemory()
{
    const std::string groups = readSmallFile("/proc/self/cgroup");
    for (std::size_t at = 0; at < groups.size();) {
        const std::size_t end = std::min(groups.find('\n', at), groups.size());
        const std::string line = groups.substr(at, end - at);
        at = end + 1;
        const bool v2 = line.rfind("0::", 0) == 0;
        const std::size_t memory = line.find(":memory:");
        if (!v2 && memory == std::string::npos)
            continue;
        const std::string path = v2 ? line.substr(3) : line.substr(memory + 8);
        // A v1 group seen from inside a container is often at the mount's root.
        const std::vector<std::string> dirs = v2 ? std::vector<std::string>{"/sys/fs/cgroup" + path}
                                                 : std::vector<std::string>{"/sys/fs/cgroup/memory" + path,
                                                                            "/sys/fs/cgroup/memory"};
        for (const std::string &dir : dirs) {
            const auto limit = number(readSmallFile(dir + (v2 ? "/memory.max" : "/memory.limit_in_bytes")));
            const auto usage = number(readSmallFile(dir + (v2 ? "/memory.current" : "/memory.usage_in_bytes")));
            if (!limit || !usage)
                continue;
            if (*limit >= kNoLimit)
                return std::nullopt;
            const quint64 reclaimable =
                field(readSmallFile(dir + "/memory.stat"), v2 ? "inactive_file " : "total_inactive_file ").value_or(0);
            const quint64 used = *usage - std::min(*usage, reclaimable);
            return Memory{*limit, *limit - std::min(*limit, used)};
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<quint64> memoryAvailableForTracks()
{
    std::optional<Memory> memory = systemMemory();
    if (const std::optional<Memory> group = groupMemory(); group && (!memory || group->available < memory->available))
        memory = group;
    if (!memory)
        return std::nullopt;
    const quint64 margin = std::max(kMinMargin, memory->total / 8);
    return memory->available - std::min(memory->available, margin);
}

bool trackMemoryAllows(quint64 requested, quint64 elsewhere, quint64 ownSoFar)
{
    const quint64 ceiling = g_ceiling.load(std::memory_order_relaxed);
    if (ceiling != 0 && requested + elsewhere + ownSoFar > ceiling)
        return false;
    const std::optional<quint64> available = memoryAvailableForTracks();
    return !available || requested + elsewhere <= *available;
}

void setTrackMemoryCeiling(std::optional<quint64> bytes)
{
    g_ceiling.store(bytes.value_or(0), std::memory_order_relaxed);
}
