#include "TrackBlock.h"

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
    madvise(p, bytes, MADV_HUGEPAGE); // a hint only; the block works without it
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

bool TrackBlock::append(TrackBlock &&tail)
{
    if (!tail)
        return true;
    if (!m_data) {
        *this = std::move(tail);
        return true;
    }
    if (m_size % pageSize() != 0)
        return false;
    const std::size_t start = m_size, tailLength = mappedLength(tail.m_size);
    if (!resize(start + tail.m_size))
        return false;
    void *moved = mremap(tail.m_data, tailLength, tailLength, MREMAP_MAYMOVE | MREMAP_FIXED, m_data + start);
    if (moved == MAP_FAILED) {
        std::memcpy(m_data + start, tail.m_data, tail.m_size); // no mapping to spare: copy instead
        tail = TrackBlock();
        return true;
    }
    // Its pages now belong to this block.
    g_heldBytes.fetch_sub(tailLength, std::memory_order_relaxed);
    tail.m_data = nullptr;
    tail.m_size = 0;
    return true;
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
