#include "TrackListModel.h"

#include "NowPlayingLabels.h"
#include "PlayQueue.h"
#include "TrackListLabels.h"
#include "Transport.h"
#include "WaveformLoader.h"

TrackListModel::TrackListModel(PlayQueue &queue, Transport &transport, WaveformLoader &waveforms,
                               QObject *parent)
    : QAbstractListModel(parent)
    , m_queue(queue)
    , m_transport(transport)
    , m_waveforms(waveforms)
{
    connect(&m_queue, &PlayQueue::fileURLsChanged, this, &TrackListModel::resetRows);
    connect(&m_queue, &PlayQueue::currentIndexChanged, this, &TrackListModel::currentIndexChanged);
    connect(&m_transport, &Transport::playbackProgressChanged, this, &TrackListModel::progressChanged);
    connect(&m_waveforms, &WaveformLoader::waveformChanged, this, [this](const QUrl &url) {
        urlChanged(url, {SamplesRole, DurationLabelRole});
    });
    connect(&m_waveforms, &WaveformLoader::loadingChanged, this,
            [this](const QUrl &url) { urlChanged(url, {IsLoadingRole}); });
    connect(&m_waveforms, &WaveformLoader::cachesReset, this, [this] {
        if (rowCount() > 0)
            emit dataChanged(index(0), index(rowCount() - 1), {SamplesRole, DurationLabelRole, IsLoadingRole});
    });
    resetRows();
}

int TrackListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_queue.count());
}

QVariant TrackListModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const int row = index.row();
    const QUrl &url = m_queue.fileURLs().at(row);
    const bool isCurrent = row == m_queue.currentIndex();
    switch (role) {
    case UrlRole: return url;
    case NumberLabelRole: return trackNumberLabel(row + 1);
    case Qt::DisplayRole:
    case TitleRole: return displayFileName(url);
    case SamplesRole: return QVariant::fromValue(m_waveforms.samplesFor(url));
    case DurationLabelRole: return durationLabel(m_waveforms.durationFor(url));
    case IsLoadingRole: return m_waveforms.isLoading(url);
    case IsCurrentRole: return isCurrent;
    case ProgressRole: return isCurrent ? m_transport.playbackProgress() : 0.0;
    default: return {};
    }
}

QHash<int, QByteArray> TrackListModel::roleNames() const
{
    return {{UrlRole, "url"},           {NumberLabelRole, "numberLabel"},
            {TitleRole, "title"},       {SamplesRole, "samples"},
            {DurationLabelRole, "durationLabel"}, {IsLoadingRole, "isLoading"},
            {IsCurrentRole, "isCurrent"}, {ProgressRole, "progress"}};
}

double TrackListModel::rowHeight() const
{
    return trackRowHeight;
}

bool TrackListModel::showsTopFade(int rows, double viewportHeight, double offset) const
{
    return fadeFor(trackListContentHeight(rows), viewportHeight, offset).showTop;
}

bool TrackListModel::showsBottomFade(int rows, double viewportHeight, double offset) const
{
    return fadeFor(trackListContentHeight(rows), viewportHeight, offset).showBottom;
}

double TrackListModel::centredOffset(int row, int rows, double viewportHeight) const
{
    return centredScrollOffset(row, rows, viewportHeight);
}

void TrackListModel::rowShown(QObject *item, int row)
{
    rowHidden(item); // a reused item leaves the row it showed first
    if (!item || row < 0 || row >= rowCount())
        return;
    const QUrl &url = m_queue.fileURLs().at(row);
    m_shownRows.insert(item, url);
    m_waveforms.rowShown(url);
}

void TrackListModel::rowHidden(QObject *item)
{
    // The URL the item showed: an item of the queue before a reset names
    // nothing any more.
    if (m_shownRows.contains(item))
        m_waveforms.rowHidden(m_shownRows.take(item));
}

void TrackListModel::playFromStart(int row)
{
    m_transport.playTrack(row, 0.0);
}

void TrackListModel::seekClick(int row, double width, QPointF press, QPointF release)
{
    if (const std::optional<double> fraction = clickFraction(width, press, release))
        m_transport.playTrack(row, *fraction);
}

void TrackListModel::resetRows()
{
    beginResetModel();
    m_rowsByUrl.clear();
    m_shownRows.clear();
    const QList<QUrl> &urls = m_queue.fileURLs();
    for (int row = 0; row < urls.size(); ++row)
        m_rowsByUrl.insert(urls.at(row), row);
    m_shownCurrent = m_queue.currentIndex();
    endResetModel();
}

void TrackListModel::urlChanged(const QUrl &url, const QList<int> &roles)
{
    for (auto it = m_rowsByUrl.constFind(url); it != m_rowsByUrl.cend() && it.key() == url; ++it)
        rowChanged(it.value(), roles);
}

void TrackListModel::currentIndexChanged()
{
    const QList<int> roles{IsCurrentRole, ProgressRole};
    rowChanged(m_shownCurrent, roles);
    m_shownCurrent = m_queue.currentIndex();
    rowChanged(m_shownCurrent, roles);
}

void TrackListModel::progressChanged()
{
    rowChanged(m_queue.currentIndex(), {ProgressRole});
}

void TrackListModel::rowChanged(qint64 row, const QList<int> &roles)
{
    if (row >= 0 && row < rowCount())
        emit dataChanged(index(int(row)), index(int(row)), roles);
}
