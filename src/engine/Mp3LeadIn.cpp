#include "Mp3LeadIn.h"

#include <algorithm>
#include <cstring>

namespace mp3leadin {

bool enter(SNDFILE *file, qint64 first, quint32 channels, std::vector<float> &leadIn)
{
    const qint64 start = std::max<qint64>(0, first - kFrames);
    if (sf_seek(file, start, SEEK_SET) != start)
        return false;
    const qint64 frames = first - start;
    leadIn.assign(std::size_t(frames) * channels, 0.0f);
    return sf_readf_float(file, leadIn.data(), frames) == frames;
}

bool continues(const std::vector<float> &leadIn, const float *before, qint64 beforeFrames, quint32 channels)
{
    const std::size_t compared = std::size_t(kComparedFrames) * channels;
    if (leadIn.size() < compared || beforeFrames < kComparedFrames)
        return false;
    const float *end = before + std::size_t(beforeFrames) * channels;
    return std::memcmp(leadIn.data() + leadIn.size() - compared, end - compared, compared * sizeof(float)) == 0;
}

} // namespace mp3leadin
