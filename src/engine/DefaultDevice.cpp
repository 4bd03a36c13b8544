#include "DefaultDevice.h"

#include "NameOrder.h"

#include <QRegularExpression>
#include <algorithm>

namespace {

std::optional<quint32> cardDevice(const QList<AlsaPcm> &pcms, int card, int device)
{
    for (const AlsaPcm &pcm : pcms)
        if (pcm.card == card && pcm.cardDevice == device)
            return pcm.device.id;
    return std::nullopt;
}

// The first by name, digital ports last.
std::optional<quint32> firstByName(const QList<AlsaPcm> &pcms)
{
    const auto before = [](const AlsaPcm &a, const AlsaPcm &b) {
        const bool aDigital = isDigitalPortName(a.device.name);
        const bool bDigital = isDigitalPortName(b.device.name);
        if (aDigital != bDigital)
            return bDigital;
        return nameorder::less(a.device.name, b.device.name);
    };
    const auto first = std::min_element(pcms.begin(), pcms.end(), before);
    return first == pcms.end() ? std::nullopt : std::optional<quint32>(first->device.id);
}

} // namespace

std::optional<quint32> chooseDefaultDevice(const QList<AlsaPcm> &pcms, const ServerDefault &server,
                                           std::optional<int> alsaDefaultCard)
{
    if (server.running && server.card >= 0) {
        if (const auto id = cardDevice(pcms, server.card, std::max(server.cardDevice, 0)))
            return id;
    }
    if (!server.running && alsaDefaultCard) {
        if (const auto id = cardDevice(pcms, *alsaDefaultCard, 0))
            return id;
    }
    return firstByName(pcms);
}

bool isDigitalPortName(const QString &name)
{
    static const QRegularExpression digital(
        QStringLiteral(R"(\b(HDMI|DP|DisplayPort|S/?PDIF|IEC958|Digital)\b)"),
        QRegularExpression::CaseInsensitiveOption);
    return digital.match(name).hasMatch();
}
