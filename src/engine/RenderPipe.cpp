#include "RenderPipe.h"

#include "SampleFormats.h"

#include <algorithm>

RenderPipe::RenderPipe(RenderSource &source, const StreamFormat &track,
                       const StreamFormat &device, quint32 maxFrames)
    : m_source(source)
    , m_track(track)
    , m_device(device)
    , m_maxFrames(maxFrames)
    , m_converts(!track.sameLayout(device))
{
    if (m_converts)
        m_scratch.resize(std::size_t(maxFrames) * track.bytesPerFrame());
}

quint32 RenderPipe::pull(std::byte *out, quint32 frames) noexcept
{
    frames = std::min(frames, m_maxFrames);
    std::byte *target = m_converts ? m_scratch.data() : out;
    const quint32 written = std::min(m_source.render(target, frames), frames);
    const std::size_t channels = m_device.channels;
    if (m_converts)
        sampleformats::convert(target, m_track, out, m_device, written * channels);
    sampleformats::writeSilence(out + std::size_t(written) * m_device.bytesPerFrame(), m_device,
                                (frames - written) * channels);
    return written;
}
