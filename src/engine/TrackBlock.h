#pragma once

#include <cstddef>

// The memory block that holds one whole track. Move-only; frees itself.
// Anonymous pages rather than the heap: an absurd size fails cleanly instead
// of throwing, untouched pages cost nothing, and huge pages halve the
// first-touch faults that dominate loading a big file.
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

    std::byte *data() const { return m_data; }
    std::size_t size() const { return m_size; }
    explicit operator bool() const { return m_data != nullptr; }

private:
    std::byte *m_data = nullptr;
    std::size_t m_size = 0;
};
