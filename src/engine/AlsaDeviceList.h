#pragma once

#include "AudioPlatform.h"

#include <QByteArray>
#include <QList>
#include <optional>

// A playback device found in ALSA, with the PCM name that opens it.
struct AlsaPcm
{
    PlaybackDevice device;
    QByteArray pcmName;
    // The ALSA card index the PCM plays on, -1 when it names none.
    int card = -1;
    // The card's PCM device number, for a hardware PCM; -1 otherwise.
    int cardDevice = -1;
};

// GUI thread. The PCMs that deliver samples unchanged: every hardware
// playback device of every card (hw:CARD=<id>,DEV=<n>), then every plain
// (argument-free) PCM that the configuration declares with a hint description
// and whose definition is of type hw or file. Mixing, resampling and
// converting PCMs are never listed. Nothing when ALSA cannot be read. A
// configured PCM plays on the card its definition names, or the first slave
// down its chain names (`card`, as a hw PCM has it).
std::optional<QList<AlsaPcm>> enumerateAlsaPcms();

// GUI thread. The index of the card ALSA's default control names; nothing
// when a sound server stands in front of the cards (its plugin names none).
std::optional<int> alsaDefaultCard();

// Any thread. The stable id of a PCM name: a 32-bit FNV-1a hash, never 0.
// Hardware names carry the card's id string, not its index, so a device
// keeps its id across re-plugging.
quint32 deviceIdForPcm(const QByteArray &pcmName);
