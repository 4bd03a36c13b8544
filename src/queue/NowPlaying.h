#pragma once

#include "NowPlayingLabels.h"

#include <QList>
#include <QObject>
#include <QPointF>
#include <QString>
#include <QUrl>
#include <functional>

class BitPerfectAudioPlayer;
class PlayQueue;
class Transport;
class WaveformLoader;

// What the now-playing panel and the queue header show, derived from the
// queue, the transport, the engine and the waveform caches. Recomputed when
// any of them changes; each property announces only a real change, so the
// 20 Hz progress tick reaches the views once a second, as the elapsed time.
//
// GUI thread only.
class NowPlaying : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QUrl currentTrackURL READ currentTrackURL NOTIFY currentTrackURLChanged)
    Q_PROPERTY(QString currentTrackTitle READ currentTrackTitle NOTIFY currentTrackTitleChanged)
    Q_PROPERTY(QString trackPositionLabel READ trackPositionLabel NOTIFY trackPositionLabelChanged)
    Q_PROPERTY(QString trackCountLabel READ trackCountLabel NOTIFY trackCountLabelChanged)
    Q_PROPERTY(double currentTrackDuration READ currentTrackDuration NOTIFY currentTrackDurationChanged)
    Q_PROPERTY(QList<double> currentWaveformSamples READ currentWaveformSamples NOTIFY currentWaveformSamplesChanged)
    Q_PROPERTY(bool isCurrentTrackLoading READ isCurrentTrackLoading NOTIFY isCurrentTrackLoadingChanged)
    Q_PROPERTY(QString elapsedLabel READ elapsedLabel NOTIFY elapsedLabelChanged)
    Q_PROPERTY(QString durationLabel READ durationLabel NOTIFY durationLabelChanged)
    Q_PROPERTY(QString playPauseIcon READ playPauseIcon NOTIFY playPauseChanged)
    Q_PROPERTY(QString playPauseHelpText READ playPauseHelpText NOTIFY playPauseChanged)
    Q_PROPERTY(bool isPlayPauseBusy READ isPlayPauseBusy NOTIFY playPauseChanged)
    Q_PROPERTY(QString failureReason READ failureReason NOTIFY failureReasonChanged)

public:
    // The name the user knows a device by (empty when unknown).
    using DeviceName = std::function<QString(quint32 deviceId)>;

    NowPlaying(PlayQueue &queue, Transport &transport, BitPerfectAudioPlayer &player,
               WaveformLoader &waveforms, DeviceName deviceName, QObject *parent = nullptr);

    QUrl currentTrackURL() const { return m_state.url; }
    QString currentTrackTitle() const { return m_state.title; }
    QString trackPositionLabel() const { return m_state.position; }
    QString trackCountLabel() const { return m_state.count; }
    double currentTrackDuration() const { return m_state.duration; }
    QList<double> currentWaveformSamples() const { return m_state.samples; }
    bool isCurrentTrackLoading() const { return m_state.loading; }
    QString elapsedLabel() const { return m_state.elapsed; }
    QString durationLabel() const { return m_state.total; }
    QString playPauseIcon() const { return m_state.playPause.iconName; }
    QString playPauseHelpText() const { return m_state.playPause.helpText; }
    bool isPlayPauseBusy() const { return m_state.playPause.busy; }
    // Why the engine is Idle when it was asked to play, in the words of the
    // moment it failed; empty otherwise.
    QString failureReason() const { return m_failureReason; }

    // A press and release on the panel's waveform, `width` wide: a click (it
    // moved at most 3 points) plays the current track from where it landed;
    // a drag does nothing.
    Q_INVOKABLE void seekClick(double width, QPointF press, QPointF release);

signals:
    void currentTrackURLChanged();
    void currentTrackTitleChanged();
    void trackPositionLabelChanged();
    void trackCountLabelChanged();
    void currentTrackDurationChanged();
    void currentWaveformSamplesChanged();
    void isCurrentTrackLoadingChanged();
    void elapsedLabelChanged();
    void durationLabelChanged();
    void playPauseChanged();
    void failureReasonChanged();

private:
    struct State
    {
        QUrl url;
        QString title, position, count;
        double duration = 0;
        QList<double> samples;
        bool loading = false;
        QString elapsed, total;
        PlayPauseLook playPause;
    };
    State compute() const;
    void refresh();
    void updateFailureReason();

    PlayQueue &m_queue;
    Transport &m_transport;
    BitPerfectAudioPlayer &m_player;
    WaveformLoader &m_waveforms;
    DeviceName m_deviceName;
    State m_state;
    QString m_failureReason;
};
