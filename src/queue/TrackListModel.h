#pragma once

#include <QAbstractListModel>
#include <QHash>
#include <QPointF>
#include <QUrl>

class PlayQueue;
class Transport;
class WaveformLoader;

// One row per queue position (a URL queued twice gives two rows), with what
// the track list draws: number, file name, waveform, duration, whether it is
// loading, current, and how far it has played. Rows change one at a time as
// waveforms arrive and the current track moves, so a queue of thousands never
// resets the view for a progress tick.
//
// GUI thread only.
class TrackListModel : public QAbstractListModel
{
    Q_OBJECT
    Q_PROPERTY(double rowHeight READ rowHeight CONSTANT)

public:
    enum Role {
        UrlRole = Qt::UserRole + 1,
        NumberLabelRole,
        TitleRole,
        SamplesRole,
        DurationLabelRole,
        IsLoadingRole,
        IsCurrentRole,
        ProgressRole,
    };

    TrackListModel(PlayQueue &queue, Transport &transport, WaveformLoader &waveforms,
                   QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    double rowHeight() const;
    // Whether a list of `rows` rows, `viewportHeight` tall and scrolled to
    // `offset`, fades its top or bottom edge. The list passes its own count
    // so that a binding follows it.
    Q_INVOKABLE bool showsTopFade(int rows, double viewportHeight, double offset) const;
    Q_INVOKABLE bool showsBottomFade(int rows, double viewportHeight, double offset) const;
    // The scroll offset that centres `row` of `rows` in the viewport.
    Q_INVOKABLE double centredOffset(int row, int rows, double viewportHeight) const;

    // The list's `item` now shows `row`: ask for its waveform. An item that
    // leaves the view (pooled or destroyed) withdraws the request if no
    // worker has taken it.
    Q_INVOKABLE void rowShown(QObject *item, int row);
    Q_INVOKABLE void rowHidden(QObject *item);
    // A click on a row's name: play that track from its beginning.
    Q_INVOKABLE void playFromStart(int row);
    // A press and release on a row's waveform, `width` wide: a click plays
    // that track from where it landed; a drag does nothing.
    Q_INVOKABLE void seekClick(int row, double width, QPointF press, QPointF release);

private:
    void resetRows();
    void urlChanged(const QUrl &url, const QList<int> &roles);
    void currentIndexChanged();
    void progressChanged();
    void rowChanged(qint64 row, const QList<int> &roles);

    PlayQueue &m_queue;
    Transport &m_transport;
    WaveformLoader &m_waveforms;
    QMultiHash<QUrl, int> m_rowsByUrl;
    QHash<QObject *, QUrl> m_shownRows; // built row items and the URL each showed
    qint64 m_shownCurrent = -1;
};
