#pragma once

#include "AudioPlatform.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QStringList>
#include <optional>

class SimulatedOutputUnit;

// A device of the simulated audio server.
struct SimulatedDevice
{
    quint32 id = 0;
    QString name;
    bool hasOutput = true;
    QList<double> supportedRates = {};         // empty: every rate
    QList<StreamFormat> supportedLayouts = {}; // kind, width and byte order count; empty: every layout
    bool busy = false;                         // held by another program: opening fails
};

// An in-process audio server for tests, linked from `quorvel_engine_testing`.
// Nothing renders by itself: the test drives the render callback step by
// step and every byte handed to a device is captured.
//
// Playing a track to its end from a test of another subsystem:
//     SimulatedAudioPlatform platform;
//     platform.addDevice({1, "Speakers"});
//     platform.setDefaultOutputDevice(1);
//     BitPerfectAudioPlayer player(platform, loadsAtOnce());
//     player.playBitPerfect(url);
//     platform.renderToEnd();                 // the render source signals the end
//     QTRY_VERIFY(!player.isPlaying());       // the GUI thread learns of it
//
// Every method runs on the test's (GUI) thread. The platform must outlive the
// units it creates.
class SimulatedAudioPlatform : public AudioPlatform
{
    Q_OBJECT
public:
    explicit SimulatedAudioPlatform(QObject *parent = nullptr);
    ~SimulatedAudioPlatform() override;

    // Configuration. Adding, removing or renaming a device emits
    // devicesChanged(); removing one with a unit makes the unit stop
    // rendering, as an unplug does.
    void addDevice(const SimulatedDevice &device);
    void removeDevice(quint32 id);
    void renameDevice(quint32 id, const QString &name);
    void setDefaultOutputDevice(std::optional<quint32> id);
    void setBusy(quint32 id, bool busy);
    // While set, the device query fails as a broken audio server's does.
    void setEnumerationFails(bool fails) { m_enumerationFails = fails; }

    // Observation.
    bool holdsExclusiveUse(quint32 id) const { return m_exclusive.contains(id); }
    std::optional<double> nominalSampleRate(quint32 id) const;
    // What happened, in order: "take <id>", "let-go <id>" (only when held),
    // "rate <id> <rate>", "open <id>", "start <id>", "stop <id>", "close <id>".
    QStringList events() const { return m_events; }
    void clearEvents() { m_events.clear(); }
    // Every byte handed to the device since the last clearCaptured(), in the
    // layout the unit opened it in (see openedLayout()).
    QByteArray captured(quint32 id) const { return m_captured.value(id); }
    void clearCaptured() { m_captured.clear(); }
    // With capture off, render calls write into one reused buffer and keep
    // nothing (for measuring the render path alone). On by default.
    void setCaptureEnabled(bool enabled) { m_captureEnabled = enabled; }
    StreamFormat openedLayout(quint32 id) const { return m_openedLayouts.value(id); }
    // True while a started unit renders on some device.
    bool isRendering() const { return runningUnit() != nullptr; }

    // Driving. One render call of `frames` frames on the running unit:
    // returns the frames the source wrote (the rest was padded with
    // silence), or -1 when no unit is running.
    qint64 renderStep(quint32 frames = 512);
    // Render calls until one finds the end of the track (the source writes
    // nothing), at most `maxCalls`; returns the frames written in total, or
    // -1 when no unit is running or the end never came.
    qint64 renderToEnd(quint32 framesPerCall = 512, qint64 maxCalls = 100'000'000);

    // AudioPlatform
    std::optional<QList<PlaybackDevice>> devices() override;
    std::optional<quint32> defaultOutputDevice() override { return m_default; }
    DeviceRefusal takeExclusiveUse(quint32 deviceId) override;
    void letGoBetweenUnits(quint32 deviceId) override;
    bool setNominalSampleRate(quint32 deviceId, double rate) override;
    OpenedUnit createOutputUnit(quint32 deviceId, const StreamFormat &trackFormat, RenderSource &source) override;

private:
    friend class SimulatedOutputUnit;
    const SimulatedDevice *device(quint32 id) const;
    std::optional<StreamFormat> acceptedLayout(const SimulatedDevice &device,
                                               const StreamFormat &track) const;
    SimulatedOutputUnit *runningUnit() const;
    void record(const QString &event) { m_events.append(event); }

    QList<SimulatedDevice> m_devices;
    std::optional<quint32> m_default;
    QSet<quint32> m_exclusive;
    QHash<quint32, double> m_nominalRates;
    QHash<quint32, QByteArray> m_captured;
    bool m_captureEnabled = true;
    bool m_enumerationFails = false;
    QHash<quint32, StreamFormat> m_openedLayouts;
    QList<SimulatedOutputUnit *> m_units;
    QStringList m_events;
};
