#include "TrackBlock.h"

#include <sys/mman.h>
#include <utility>

TrackBlock::~TrackBlock()
{
    if (m_data)
        munmap(m_data, m_size);
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
    return block;
}
