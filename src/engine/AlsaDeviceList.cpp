#include "AlsaDeviceList.h"

#include <alsa/asoundlib.h>
#include <algorithm>
#include <cstdlib>
#include <memory>

namespace {

struct CtlCloser
{
    void operator()(snd_ctl_t *ctl) const { snd_ctl_close(ctl); }
};
using CtlHandle = std::unique_ptr<snd_ctl_t, CtlCloser>;

CtlHandle openCtl(const QByteArray &name)
{
    snd_ctl_t *ctl = nullptr;
    if (snd_ctl_open(&ctl, name.constData(), 0) < 0)
        return {};
    return CtlHandle(ctl);
}

// The card's id string and name, or nothing when it cannot be read.
std::optional<std::pair<QByteArray, QString>> cardIdentity(snd_ctl_t *ctl)
{
    snd_ctl_card_info_t *info;
    snd_ctl_card_info_alloca(&info);
    if (snd_ctl_card_info(ctl, info) < 0)
        return std::nullopt;
    return std::pair{QByteArray(snd_ctl_card_info_get_id(info)),
                     QString::fromUtf8(snd_ctl_card_info_get_name(info))};
}

void appendCardPcms(int card, QList<AlsaPcm> &out)
{
    CtlHandle ctl = openCtl("hw:" + QByteArray::number(card));
    const auto identity = ctl ? cardIdentity(ctl.get()) : std::nullopt;
    if (!identity)
        return;
    snd_pcm_info_t *info;
    snd_pcm_info_alloca(&info);
    int device = -1;
    while (snd_ctl_pcm_next_device(ctl.get(), &device) >= 0 && device >= 0) {
        snd_pcm_info_set_device(info, unsigned(device));
        snd_pcm_info_set_subdevice(info, 0);
        snd_pcm_info_set_stream(info, SND_PCM_STREAM_PLAYBACK);
        if (snd_ctl_pcm_info(ctl.get(), info) < 0)
            continue; // capture only
        const QByteArray pcmName = "hw:CARD=" + identity->first + ",DEV=" + QByteArray::number(device);
        const QString name = identity->second + QStringLiteral(", ")
                             + QString::fromUtf8(snd_pcm_info_get_name(info));
        out.append({{deviceIdForPcm(pcmName), name, true}, pcmName, card, device});
    }
}

int cardOfDefinition(snd_config_t *definition, int depth);

int cardOfSlave(snd_config_t *slave, int depth)
{
    const char *name = nullptr;
    if (snd_config_get_string(slave, &name) < 0)
        return cardOfDefinition(slave, depth + 1); // defined in place
    snd_config_t *definition = nullptr;
    if (snd_config_search_definition(snd_config, "pcm", name, &definition) < 0)
        return -1;
    const int card = cardOfDefinition(definition, depth + 1);
    snd_config_delete(definition);
    return card;
}

int cardOfDefinition(snd_config_t *definition, int depth)
{
    snd_config_t *node = nullptr;
    if (snd_config_search(definition, "card", &node) >= 0) {
        long index = -1;
        const char *id = nullptr;
        if (snd_config_get_integer(node, &index) >= 0)
            return index >= 0 && index < 256 ? int(index) : -1;
        if (snd_config_get_string(node, &id) >= 0)
            return std::max(snd_card_get_index(id), -1);
        return -1;
    }
    if (depth >= 8 || snd_config_search(definition, "slave.pcm", &node) < 0)
        return -1;
    return cardOfSlave(node, depth);
}

// The definition's type and the card it plays on.
std::pair<QByteArray, int> definitionTypeAndCard(const char *pcmName)
{
    snd_config_t *definition = nullptr;
    if (snd_config_search_definition(snd_config, "pcm", pcmName, &definition) < 0)
        return {{}, -1};
    snd_config_t *type = nullptr;
    const char *value = nullptr;
    QByteArray result;
    if (snd_config_search(definition, "type", &type) >= 0 && snd_config_get_string(type, &value) >= 0)
        result = value;
    const int card = cardOfDefinition(definition, 0);
    snd_config_delete(definition);
    return {result, card};
}

QByteArray hintValue(const void *hint, const char *id)
{
    char *value = snd_device_name_get_hint(hint, id);
    QByteArray result = value;
    free(value);
    return result;
}

// Card-specific names (with ':' arguments) describe the hardware already
// listed from the cards, or converters over it.
std::optional<AlsaPcm> configuredPcm(const void *hint)
{
    const QByteArray name = hintValue(hint, "NAME");
    const QByteArray description = hintValue(hint, "DESC");
    if (name.isEmpty() || name.contains(':') || description.isEmpty() || hintValue(hint, "IOID") == "Input")
        return std::nullopt;
    const auto [type, card] = definitionTypeAndCard(name.constData());
    if (type != "hw" && type != "file")
        return std::nullopt;
    const QString shown = QString::fromUtf8(description).simplified();
    return AlsaPcm{{deviceIdForPcm(name), shown, true}, name, card};
}

bool appendConfiguredPcms(QList<AlsaPcm> &out)
{
    void **hints = nullptr;
    if (snd_config_update() < 0 || snd_device_name_hint(-1, "pcm", &hints) < 0)
        return false;
    for (void **hint = hints; *hint; ++hint)
        if (const auto pcm = configuredPcm(*hint))
            out.append(*pcm);
    snd_device_name_free_hint(hints);
    return true;
}

} // namespace

std::optional<QList<AlsaPcm>> enumerateAlsaPcms()
{
    QList<AlsaPcm> out;
    int card = -1;
    int status = 0;
    while ((status = snd_card_next(&card)) >= 0 && card >= 0)
        appendCardPcms(card, out);
    if (status < 0 || !appendConfiguredPcms(out))
        return std::nullopt;
    return out;
}

std::optional<int> alsaDefaultCard()
{
    CtlHandle ctl = openCtl("default");
    if (!ctl)
        return std::nullopt;
    snd_ctl_card_info_t *info;
    snd_ctl_card_info_alloca(&info);
    if (snd_ctl_card_info(ctl.get(), info) < 0)
        return std::nullopt;
    return snd_ctl_card_info_get_card(info);
}

quint32 deviceIdForPcm(const QByteArray &pcmName)
{
    quint32 hash = 2166136261u;
    for (const char c : pcmName) {
        hash ^= quint8(c);
        hash *= 16777619u;
    }
    return hash == 0 ? 1 : hash;
}
