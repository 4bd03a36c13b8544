#pragma once

#include "AudioPlatform.h"
#include "PlaybackFailure.h"
#include "RenderFeed.h"
#include "SignalPath.h"

#include <QObject>
#include <QTimer>
#include <memory>
#include <variant>
#include <optional>

// The device a track plays on and the unit that feeds it from the render
// feed: the device taken for exclusive use at the track's rate, the unit
// opened (or the one made ready while the track decoded) and started, and
// the device given back to other programs once playback has ended.
//
// GUI thread only; it decides nothing about what plays.
class DeviceOutput : public QObject
{
    Q_OBJECT
public:
    enum class Opening { Started, Waiting, Failed };
    struct Opened
    {
        Opening how = Opening::Failed;
        FailureKind why = FailureKind::None; // when Failed
    };

    // GUI thread. `platform` and `feed` must outlive the output.
    DeviceOutput(AudioPlatform &platform, RenderFeed &feed, QObject *parent = nullptr);
    // GUI thread. No render call runs after it returns.
    ~DeviceOutput() override;

    // GUI thread. The device chosen with prefer(), else the platform's
    // default; none when neither exists.
    std::optional<quint32> selected() const;
    // GUI thread. Chooses the device of the next start; true when that moves
    // playback (another device, or the running unit is on another).
    bool prefer(quint32 deviceId);
    // The device taken by the last start or preparation; 0 before any.
    quint32 deviceId() const { return m_deviceId; }
    bool hasUnit() const { return m_unit != nullptr; }
    // What the running or paused unit hands the device; invalid without one.
    SignalPath *signalPath() { return &m_signalPath; }
    StreamFormat deviceFormat() const;

    // GUI thread. Takes the selected device for `track`, hands the feed the
    // track at `frame` and starts a unit on it. Waiting: another program was
    // asked for the device, deviceReady() follows. Failed: why.
    Opened open(MemoryTrack &track, qint64 frame);
    // GUI thread. Takes and configures the selected device for `format`
    // while the track decodes; open() starts it when nothing changed.
    // Failures here are tried again, and reported, by open().
    void prepare(const StreamFormat &format);
    // GUI thread. The paused unit goes on from `frame` when it is still on
    // the selected device and starts; false otherwise.
    bool resume(qint64 frame);
    // GUI thread. Stops the unit, keeping it; the frames it dropped unheard.
    qint64 stopRendering() { return m_unit->stop(); }
    // GUI thread. Closes the unit and the one made ready; no render call
    // runs after it returns.
    void close();
    void dropPrepared() { m_readyUnit.reset(); }
    // GUI thread. The unit is gone for a moment; the card stays reserved
    // (idempotent).
    void letGo();
    // GUI thread. Playback has ended: the device goes back to other programs.
    void handBack();
    // GUI thread. Unless a unit is open again by then, the device goes back
    // to other programs after a moment (the next track may take it first);
    // releaseDue() asks whether it may.
    void releaseSoon() { m_releaseGrace.start(); }
    void keep() { m_releaseGrace.stop(); }
    void handBackIfClosed();
    // GUI thread. The device failed under a playing track: unless the unit
    // is closed within a moment (the catalogue may hand the track on to
    // another device), failedForGood() follows.
    void startFailing() { m_failedGrace.start(); }
    bool isFailing() const { return m_failedGrace.isActive(); }

signals:
    // GUI thread: the moment after releaseSoon() has passed.
    void releaseDue();
    // GUI thread: the moment after startFailing() has passed.
    void failedForGood();

private:
    std::variant<std::unique_ptr<OutputUnit>, FailureKind> openUnit(const StreamFormat &format);
    std::unique_ptr<OutputUnit> takeReadyUnit(const StreamFormat &format);

    AudioPlatform &m_platform;
    RenderFeed &m_feed;
    std::unique_ptr<OutputUnit> m_unit;
    // Opened and configured, not started, while the track to play decodes:
    // for this device and format.
    std::unique_ptr<OutputUnit> m_readyUnit;
    quint32 m_readyDeviceId = 0;
    StreamFormat m_readyFormat;
    quint32 m_deviceId = 0;
    std::optional<quint32> m_preferredDeviceId;
    // Playback that ended is given a moment before the card goes back.
    QTimer m_releaseGrace;
    QTimer m_failedGrace;
    SignalPath m_signalPath;
};
