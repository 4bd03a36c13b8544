#pragma once

#include "BitPerfectAudioPlayer.h"
#include "Clock.h"
#include "DesktopPlayer.h"
#include "DeviceCatalogue.h"
#include "DevicePickerState.h"
#include "FileChooserPortal.h"
#include "FileIntake.h"
#include "NowPlaying.h"
#include "PlayQueue.h"
#include "TagReader.h"
#include "TrackListModel.h"
#include "Transport.h"
#include "WaveformLoader.h"

#include <QObject>
#include <QtQml/qqmlregistration.h>

class AudioPlatform;
class QJSEngine;
class QQmlEngine;

// The main screen's state and the one place that owns and wires the
// subsystems for the life of the window: the engine, the queue and its
// transport, the intake of files, the device catalogue, the waveform caches
// and what the panels derive from them. The views reach it as a singleton.
//
// GUI thread only.
class ContentView : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(BitPerfectAudioPlayer *player READ player CONSTANT)
    Q_PROPERTY(PlayQueue *queue READ queue CONSTANT)
    Q_PROPERTY(Transport *transport READ transport CONSTANT)
    Q_PROPERTY(FileIntake *intake READ intake CONSTANT)
    Q_PROPERTY(DeviceCatalogue *devices READ devices CONSTANT)
    Q_PROPERTY(DevicePickerState *devicePicker READ devicePicker CONSTANT)
    Q_PROPERTY(WaveformLoader *waveforms READ waveforms CONSTANT)
    Q_PROPERTY(TrackListModel *tracks READ tracks CONSTANT)
    Q_PROPERTY(NowPlaying *nowPlaying READ nowPlaying CONSTANT)
    Q_PROPERTY(FileChooserPortal *fileChooser READ fileChooser CONSTANT)

public:
    explicit ContentView(AudioPlatform &platform, QObject *parent = nullptr);
    ~ContentView() override;

    // The instance the QML singleton resolves to; set before loading QML.
    static void provide(ContentView *instance);
    static ContentView *create(QQmlEngine *qmlEngine, QJSEngine *jsEngine);

    BitPerfectAudioPlayer *player() { return &m_player; }
    PlayQueue *queue() { return &m_queue; }
    Transport *transport() { return &m_transport; }
    FileIntake *intake() { return &m_intake; }
    DeviceCatalogue *devices() { return &m_devices; }
    DevicePickerState *devicePicker() { return &m_devicePicker; }
    WaveformLoader *waveforms() { return &m_waveforms; }
    TrackListModel *tracks() { return &m_tracks; }
    NowPlaying *nowPlaying() { return &m_nowPlaying; }
    // What the desktop's media controls drive; main() puts it on the bus.
    DesktopPlayer *desktopPlayer() { return &m_desktopPlayer; }
    // The desktop's file chooser; what is chosen there, or in the view's
    // built-in dialog where no portal answers, goes through the intake.
    FileChooserPortal *fileChooser() { return &m_fileChooser; }

    // Lists the devices and follows their changes, and starts the progress
    // clock: after this, files given to the intake play on the selected
    // device from their first start. Called once.
    void start();

signals:
    // The desktop asked for the window (a media control, a second start).
    void raiseRequested();

private:
    void connectFileChooser();

    SteadyClock m_clock;
    BitPerfectAudioPlayer m_player;
    WaveformLoader m_waveforms;
    PlayQueue m_queue;
    Transport m_transport;
    FileIntake m_intake;
    DeviceCatalogue m_devices;
    DevicePickerState m_devicePicker;
    TrackListModel m_tracks;
    NowPlaying m_nowPlaying;
    FileChooserPortal m_fileChooser;
    TagReader m_tags;
    DesktopPlayer m_desktopPlayer;
};
