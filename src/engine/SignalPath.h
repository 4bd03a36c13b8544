#pragma once

#include "AudioPlatform.h"
#include "SampleFormats.h"

#include <QObject>
#include <QString>

// What the running output unit hands the device, as the device reported it
// once configured, and how the track's samples get there: the property set a
// view shows beside the rate badge. GUI thread only; every property changes
// together and only on a real change.
class SignalPath : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isValid READ isValid NOTIFY changed)
    Q_PROPERTY(QString kind READ kindName NOTIFY changed)
    Q_PROPERTY(QString format READ format NOTIFY changed)
    Q_PROPERTY(int rate READ rate NOTIFY changed)
    Q_PROPERTY(int channels READ channels NOTIFY changed)
    Q_PROPERTY(bool checkedByKernel READ checkedByKernel NOTIFY changed)
    Q_PROPERTY(QString label READ label NOTIFY changed)

public:
    using QObject::QObject;

    bool isValid() const { return !m_accepted.format.isEmpty(); }
    sampleformats::PathKind kind() const { return m_kind; }
    // "bit-perfect", "lossless" or "rounded"; empty when invalid.
    QString kindName() const;
    QString format() const { return m_accepted.format; }
    int rate() const { return int(m_accepted.rate); }
    int channels() const { return int(m_accepted.channels); }
    bool checkedByKernel() const { return m_accepted.fromKernel; }
    QString label() const { return labelFor(m_kind, m_accepted); }

    // The path of a unit opened for `track`.
    void set(const StreamFormat &track, const StreamFormat &device, const AcceptedSettings &accepted);
    void clear();

    // "Bit-perfect · S24_3LE · 96000 Hz · 2 ch", with " · kernel" when the
    // kernel's own record confirmed it; empty when nothing was accepted.
    static QString labelFor(sampleformats::PathKind kind, const AcceptedSettings &accepted);

signals:
    void changed();

private:
    sampleformats::PathKind m_kind = sampleformats::PathKind::BitPerfect;
    AcceptedSettings m_accepted;
};
