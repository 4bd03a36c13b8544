#pragma once

#include <cstddef>
#include <span>

// The memory block that holds one whole track. Move-only; frees itself.
// Anonymous pages rather than the heap: an absurd size fails cleanly instead
// of throwing, untouched pages cost nothing, huge pages halve the first-touch
// faults that dominate loading a big file, and the block grows, shrinks and
// takes over another block's pages by moving page tables (mremap), never by
// copying, so a decoder can grow it as frames arrive.
class TrackBlock
{
public:
    TrackBlock() = default;
    ~TrackBlock();
    TrackBlock(TrackBlock &&other) noexcept;
    TrackBlock &operator=(TrackBlock &&other) noexcept;
    TrackBlock(const TrackBlock &) = delete;
    TrackBlock &operator=(const TrackBlock &) = delete;

    // Any thread. An empty block when `bytes` is 0 or the memory is refused.
    static TrackBlock allocate(std::size_t bytes);

    // Makes the block `bytes` long, keeping its first bytes; new bytes read
    // as zero. False, with the block unchanged, when the memory is refused.
    bool resize(std::size_t bytes);
    // One block of `parts` in order, their pages moved rather than copied;
    // the parts are left empty. Every part but the last must be a whole
    // number of pages long. An empty block, with the parts unchanged, when
    // no address range can be had.
    static TrackBlock join(std::span<TrackBlock> parts);

    std::byte *data() const { return m_data; }
    std::size_t size() const { return m_size; }
    explicit operator bool() const { return m_data != nullptr; }

    // Bytes held by every live block of the process, pages rounded up. Any thread.
    static std::size_t heldBytes();
    static std::size_t pageSize();

private:
    void moveInto(std::byte *target);

    std::byte *m_data = nullptr;
    std::size_t m_size = 0;
};
