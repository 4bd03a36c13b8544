// libFuzzer target: the waveform extraction on any bytes under any audio
// name. A finding is a sanitizer report, a hang, an out-of-memory, or a
// waveform with values that are not finite and non-negative.
#include "FuzzInput.h"
#include "WaveformExtraction.h"

#include <QUrl>
#include <cmath>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const WaveformResult result = makeWaveformData(QUrl::fromLocalFile(writeFuzzInput(data, size)), 500);
    if (const auto *waveform = std::get_if<LoadedWaveform>(&result)) {
        const auto bad = [](double v) { return !std::isfinite(v) || v < 0; };
        if (bad(waveform->duration) || std::any_of(waveform->samples.begin(), waveform->samples.end(), bad))
            std::abort();
    }
    return 0;
}
