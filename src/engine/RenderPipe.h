#pragma once

#include "AudioPlatform.h"

#include <vector>

// Carries frames from a RenderSource to a device buffer: the source writes the
// track's layout, the pipe converts when the device was opened in another
// one (losslessly, or by the one rounding of a true-float track), and pads whatever the source did not write with the device
// format's silence, so stale memory never reaches a device.
class RenderPipe
{
public:
    // GUI thread. Allocates the conversion scratch for up to `maxFrames`
    // frames per call; `device` must be one of the track's output candidates.
    RenderPipe(RenderSource &source, const StreamFormat &track, const StreamFormat &device,
               quint32 maxFrames);

    // Render thread. Fills `frames` (at most maxFrames) frames of `out` in the
    // device layout; returns how many came from the source. Allocates nothing.
    quint32 pull(std::byte *out, quint32 frames) noexcept;

    const StreamFormat &deviceFormat() const { return m_device; }
    quint32 maxFrames() const { return m_maxFrames; }

private:
    RenderSource &m_source;
    StreamFormat m_track;
    StreamFormat m_device;
    quint32 m_maxFrames;
    bool m_converts;
    std::vector<std::byte> m_scratch;
};
