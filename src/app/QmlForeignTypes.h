#pragma once

// The subsystems' QObjects as the views see them: typed, but created only by
// the composition root.
#include "BitPerfectAudioPlayer.h"
#include "DeviceCatalogue.h"
#include "FileIntake.h"
#include "NowPlaying.h"
#include "PlayQueue.h"
#include "TrackListModel.h"
#include "Transport.h"
#include "WaveformLoader.h"

#include <QtQml/qqml.h>

struct BitPerfectAudioPlayerForeign
{
    Q_GADGET
    QML_FOREIGN(BitPerfectAudioPlayer)
    QML_NAMED_ELEMENT(BitPerfectAudioPlayer)
    QML_UNCREATABLE("Owned by ContentView")
};

struct SignalPathForeign
{
    Q_GADGET
    QML_FOREIGN(SignalPath)
    QML_NAMED_ELEMENT(SignalPath)
    QML_UNCREATABLE("Owned by the engine")
};

struct DeviceCatalogueForeign
{
    Q_GADGET
    QML_FOREIGN(DeviceCatalogue)
    QML_NAMED_ELEMENT(DeviceCatalogue)
    QML_UNCREATABLE("Owned by ContentView")
};

struct FileIntakeForeign
{
    Q_GADGET
    QML_FOREIGN(FileIntake)
    QML_NAMED_ELEMENT(FileIntake)
    QML_UNCREATABLE("Owned by ContentView")
};

struct NowPlayingForeign
{
    Q_GADGET
    QML_FOREIGN(NowPlaying)
    QML_NAMED_ELEMENT(NowPlaying)
    QML_UNCREATABLE("Owned by ContentView")
};

struct PlayQueueForeign
{
    Q_GADGET
    QML_FOREIGN(PlayQueue)
    QML_NAMED_ELEMENT(PlayQueue)
    QML_UNCREATABLE("Owned by ContentView")
};

struct TrackListModelForeign
{
    Q_GADGET
    QML_FOREIGN(TrackListModel)
    QML_NAMED_ELEMENT(TrackListModel)
    QML_UNCREATABLE("Owned by ContentView")
};

struct TransportForeign
{
    Q_GADGET
    QML_FOREIGN(Transport)
    QML_NAMED_ELEMENT(Transport)
    QML_UNCREATABLE("Owned by ContentView")
};

struct WaveformLoaderForeign
{
    Q_GADGET
    QML_FOREIGN(WaveformLoader)
    QML_NAMED_ELEMENT(WaveformLoader)
    QML_UNCREATABLE("Owned by ContentView")
};
