#pragma once

#include "StreamFormat.h"

#include <QList>
#include <QObject>
#include <QString>
#include <cstddef>
#include <memory>
#include <optional>
#include <variant>

// A playback device as the platform reports it. `id` is never 0 and stays the
// same for the same device across re-enumeration and re-plugging.
struct PlaybackDevice
{
    quint32 id = 0;
    QString name;
    bool hasOutput = false;

    friend bool operator==(const PlaybackDevice &, const PlaybackDevice &) = default;
};

// Why a platform did not take or open a device.
enum class DeviceRefusal : quint8 {
    None,    // taken: nothing refused
    Gone,    // unknown, unplugged, or it failed to open
    Busy,    // another program holds it and keeps it
    Waiting, // another program was asked to let it go: deviceReady() follows
    Rate,    // it does not run at the track's rate
    Format,  // it takes neither the track's channels nor a layout for its samples
};

// What a device accepted for a stream, read back from it once configured.
struct AcceptedSettings
{
    QString format; // ALSA's name of the sample layout, e.g. "S24_3LE"
    quint32 rate = 0;
    quint32 channels = 0;
    // Read from the kernel's own record of the card's settings, not only
    // from the library's.
    bool fromKernel = false;

    friend bool operator==(const AcceptedSettings &, const AcceptedSettings &) = default;
};

// Why a unit's render thread stopped rendering on its own.
enum class RenderEnd : quint8 {
    PlayedOut,    // the source ran dry and the device has sounded every frame
    DeviceFailed, // the device vanished or failed for good
};

// What an output unit pulls frames from.
class RenderSource
{
public:
    // Render thread. Writes up to `frames` frames in the unit's track format
    // into `out` (which may be null: then nothing is written) and returns how
    // many it wrote; the unit sends digital silence for the rest, and a call
    // that writes nothing ends the stream. Must not allocate, lock or do I/O;
    // never fails.
    virtual quint32 render(std::byte *out, quint32 frames) noexcept = 0;
    // Render thread, before each render() of a period: moves to a seek made
    // since the last call and says whether it did, so that the unit first
    // takes back what the device holds of the old position (a seek is heard
    // at once, not after the buffer). Must not allocate, lock or do I/O.
    virtual bool applyPendingSeek() noexcept = 0;
    // Render thread, at most once per start: the stream ended by itself. After
    // PlayedOut the device is idle; nothing is rendered after either.
    virtual void renderStopped(RenderEnd why) noexcept = 0;

protected:
    ~RenderSource() = default;
};

// One device opened for one stream format, with the thread that renders it.
// Created, started, stopped and destroyed on the GUI thread, and none of
// these waits on the device: the render thread plays the last frames out.
class OutputUnit
{
public:
    virtual ~OutputUnit() = default; // stops first
    // Starts or resumes rendering. Returns false (and renders nothing) when
    // the device refuses; a started unit is not restarted.
    virtual bool start() = 0;
    // Stops rendering at once; no render call runs after it returns.
    // Idempotent. Frames still in the device buffer are dropped, and the
    // count of frames the source rendered that will never sound is returned
    // (0 when none), so that a pause can resume where the sound stopped.
    virtual qint64 stop() = 0;
    // The layout the device was opened in; equals the track format unless
    // the unit converts (losslessly, or rounding a true-float track).
    virtual StreamFormat deviceFormat() const = 0;
    // What the device reported it accepted once configured.
    virtual AcceptedSettings acceptedSettings() const = 0;
};

// A unit opened for a stream, or why the device would not have one.
using OpenedUnit = std::variant<std::unique_ptr<OutputUnit>, DeviceRefusal>;

// The audio server the engine and the device catalogue run on. Every method is
// called on the GUI thread; none throws; failures are reported by the return
// value only.
class AudioPlatform : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // Every playback-capable device known now; nothing when the enumeration
    // itself fails (which is not the same as finding no device).
    virtual std::optional<QList<PlaybackDevice>> devices() = 0;
    // The device the desktop plays to by default, when it is among devices().
    virtual std::optional<quint32> defaultOutputDevice() = 0;
    // Takes the device for this process alone. Idempotent: taking a device
    // already held keeps it held. None when it is held now; Gone when it is
    // unknown, Busy when another program keeps it, Waiting when another
    // program was asked to let it go: take it again once deviceReady() says
    // so.
    [[nodiscard]] virtual DeviceRefusal takeExclusiveUse(quint32 deviceId) = 0;
    // The unit on the device is gone for a moment (a pause, a restart, the
    // next track): the device counts as not held until the next take, while
    // the card stays reserved so that no sound server takes it back between
    // units. Idempotent: letting go of a device not held does nothing (and
    // in particular does not take it).
    virtual void letGoBetweenUnits(quint32 deviceId) = 0;
    // Remembers the nominal rate the device runs at from its next open on;
    // never resampled. False when the device is unknown.
    virtual bool setNominalSampleRate(quint32 deviceId, double rate) = 0;
    // Opens the device for `trackFormat` at the device's nominal rate, in the
    // track's layout or the narrowest lossless one the device accepts (a
    // true-float track on a device without float: the widest integer one,
    // rounded once, see sampleformats::convert), and
    // arranges for `source` to be rendered once started. The refusal, never
    // None, when the device is unknown, busy, gone, or holds neither the
    // rate nor a lossless layout. `source` must outlive the unit.
    [[nodiscard]] virtual OpenedUnit createOutputUnit(quint32 deviceId, const StreamFormat &trackFormat,
                                                      RenderSource &source) = 0;
    // Playback has ended (stop, quit, the end of the queue, a failure) and
    // the device's unit is gone: the card's reservation goes back, and the
    // desktop's sound server and other programs may have the device again.
    // Nothing when not held.
    virtual void handBackToDesktop(quint32 deviceId) { Q_UNUSED(deviceId); }

signals:
    // After a take refused with Waiting: the other program has answered, and
    // `mayTake` says whether taking the device again can succeed now.
    void deviceReady(quint32 deviceId, bool mayTake);
    // Another program took the device over: its unit was closed under its
    // owner and renders nothing more.
    void deviceTaken(quint32 deviceId);
    // Emitted on the GUI thread whenever playback devices appear or vanish.
    void devicesChanged();
};
