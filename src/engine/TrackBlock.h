#pragma once

#include <cstddef>
#include <span>

// The memory block that holds one whole track. Move-only; frees itself.
// Anonymous pages rather than the heap: an absurd size fails cleanly instead
// of throwing, untouched pages cost nothing, the first-touch faults that
// dominate loading a big file can be taken many pages at a time (prefault),
// and the block grows, shrinks and takes over another block's pages by
// moving page tables (mremap), never by copying, so a decoder can grow it as
// frames arrive.
//
// The block asks for no huge pages: where the kernel compacts memory for
// them on demand, a fault can stall for milliseconds, and a long track paid
// several times what small pages cost.
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
    // Faults in the pages under bytes [offset, offset + bytes), clamped to
    // the block, in one call ahead of writing them: far cheaper than a fault
    // per page as a copy or a decoder first touches each. A hint only.
    void prefault(std::size_t offset, std::size_t bytes) const;

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
