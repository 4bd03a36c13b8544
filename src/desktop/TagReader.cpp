#include "TagReader.h"

namespace {
// A queue can hold thousands of tracks; only the ones near the current one
// are ever asked for.
constexpr qsizetype kKeptTracks = 64;
}

TagReader::TagReader(const QString &coverFolder, QObject *parent)
    : QObject(parent), m_coverFolder(coverFolder), m_worker(new QObject)
{
    m_thread.setObjectName(QStringLiteral("quorvel-tags"));
    m_worker->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    m_thread.start(QThread::LowPriority);
}

TagReader::~TagReader()
{
    m_thread.quit();
    m_thread.wait();
}

void TagReader::request(const QUrl &url)
{
    if (!url.isLocalFile() || m_known.contains(url))
        return;
    if (m_known.size() >= kKeptTracks)
        m_known.removeIf([](const auto &entry) { return entry.value().has_value(); });
    m_known.insert(url, std::nullopt);
    // The reader outlives every call it posts: its destructor waits for the
    // thread, which runs the calls in order.
    QMetaObject::invokeMethod(m_worker, [this, url, folder = m_coverFolder] {
        const TrackTags tags = tracktags::read(url.toLocalFile(), folder);
        QMetaObject::invokeMethod(this, [this, url, tags] { store(url, tags); }, Qt::QueuedConnection);
    }, Qt::QueuedConnection);
}

std::optional<TrackTags> TagReader::tags(const QUrl &url) const
{
    return m_known.value(url);
}

void TagReader::store(const QUrl &url, const TrackTags &tags)
{
    m_known.insert(url, tags);
    emit tagsRead(url);
}
