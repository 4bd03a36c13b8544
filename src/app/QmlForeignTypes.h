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

#include <QtQml/qqmlregistration.h>

#define QUORVEL_FOREIGN_UNCREATABLE(Type)                                                          \
    struct Type##Foreign                                                                           \
    {                                                                                              \
        Q_GADGET                                                                                   \
        QML_FOREIGN(Type)                                                                          \
        QML_NAMED_ELEMENT(Type)                                                                    \
        QML_UNCREATABLE("Owned by ContentView")                                                    \
    };

QUORVEL_FOREIGN_UNCREATABLE(BitPerfectAudioPlayer)
QUORVEL_FOREIGN_UNCREATABLE(DeviceCatalogue)
QUORVEL_FOREIGN_UNCREATABLE(FileIntake)
QUORVEL_FOREIGN_UNCREATABLE(NowPlaying)
QUORVEL_FOREIGN_UNCREATABLE(PlayQueue)
QUORVEL_FOREIGN_UNCREATABLE(TrackListModel)
QUORVEL_FOREIGN_UNCREATABLE(Transport)
QUORVEL_FOREIGN_UNCREATABLE(WaveformLoader)
