#include "TrackBlock.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>
#include <utility>

namespace {

std::atomic<std::size_t> g_heldBytes{0};

std::size_t mappedLength(std::size_t bytes)
{
    const std::size_t page = TrackBlock::pageSize();
    return (bytes + page - 1) / page * page;
}

} // namespace

TrackBlock::~TrackBlock()
{
    if (m_data) {
        munmap(m_data, m_size);
        g_heldBytes.fetch_sub(mappedLength(m_size), std::memory_order_relaxed);
    }
}

TrackBlock::TrackBlock(TrackBlock &&other) noexcept
    : m_data(std::exchange(other.m_data, nullptr))
    , m_size(std::exchange(other.m_size, 0))
{
}

TrackBlock &TrackBlock::operator=(TrackBlock &&other) noexcept
{
    if (this != &other) {
        TrackBlock old(std::move(*this));
        m_data = std::exchange(other.m_data, nullptr);
        m_size = std::exchange(other.m_size, 0);
    }
    return *this;
}

TrackBlock TrackBlock::allocate(std::size_t bytes)
{
    TrackBlock block;
    if (bytes == 0)
        return block;
    void *p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE,
                   -1, 0);
    if (p == MAP_FAILED)
        return block;
    block.m_data = static_cast<std::byte *>(p);
    block.m_size = bytes;
    g_heldBytes.fetch_add(mappedLength(bytes), std::memory_order_relaxed);
    return block;
}

bool TrackBlock::resize(std::size_t bytes)
{
    if (bytes == 0 || !m_data) {
        TrackBlock fresh = allocate(bytes);
        if (bytes != 0 && !fresh)
            return false;
        *this = std::move(fresh);
        return true;
    }
    const std::size_t oldLength = mappedLength(m_size), newLength = mappedLength(bytes);
    if (newLength != oldLength) {
        void *p = mremap(m_data, oldLength, newLength, MREMAP_MAYMOVE);
        if (p == MAP_FAILED)
            return false;
        m_data = static_cast<std::byte *>(p);
        if (newLength > oldLength)
            g_heldBytes.fetch_add(newLength - oldLength, std::memory_order_relaxed);
        else
            g_heldBytes.fetch_sub(oldLength - newLength, std::memory_order_relaxed);
    }
    m_size = bytes;
    return true;
}

// The joined block is made of several mappings, which mremap cannot grow
// or shrink as one: the parts are sized before, and the whole is an address
// range reserved untouched, each part's pages then moved into their place.
// The pages are the ones the parts paid for, so the held bytes stay as they
// were.
TrackBlock TrackBlock::join(std::span<TrackBlock> parts)
{
    if (parts.size() == 1)
        return std::move(parts.front());
    std::size_t total = 0;
    for (const TrackBlock &part : parts)
        total += part.m_size;
    if (total == 0)
        return {};
    void *range = mmap(nullptr, mappedLength(total), PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (range == MAP_FAILED)
        return {};
    TrackBlock block;
    block.m_data = static_cast<std::byte *>(range);
    block.m_size = total;
    std::size_t at = 0;
    for (TrackBlock &part : parts) {
        const std::size_t size = part.m_size;
        if (part.m_data)
            part.moveInto(block.m_data + at);
        at += size;
    }
    return block;
}

// Leaves the block empty, its bytes at `target` and still counted.
void TrackBlock::moveInto(std::byte *target)
{
    const std::size_t length = mappedLength(m_size);
    if (mremap(m_data, length, length, MREMAP_MAYMOVE | MREMAP_FIXED, target) == MAP_FAILED) {
        std::memcpy(target, m_data, m_size); // no mapping to spare: copy instead
        munmap(m_data, length);
    }
    m_data = nullptr;
    m_size = 0;
}

void TrackBlock::prefault(std::size_t offset, std::size_t bytes) const
{
    if (!m_data || offset >= m_size)
        return;
    const std::size_t page = pageSize();
    const std::size_t begin = offset / page * page;
    const std::size_t end = mappedLength(offset + std::min(bytes, m_size - offset));
    // Refused (an older kernel, or memory short): the writes fault them in.
    [[maybe_unused]] const int advised = madvise(m_data + begin, end - begin, MADV_POPULATE_WRITE);
}

std::size_t TrackBlock::heldBytes()
{
    return g_heldBytes.load(std::memory_order_relaxed);
}

std::size_t TrackBlock::pageSize()
{
    static const std::size_t page = std::size_t(sysconf(_SC_PAGESIZE));
    return page;
}
