#pragma once

#include <QList>
#include <QObject>
#include <QUrl>

// The ordered tracks and the position of the current one. The queue is only
// ever replaced whole; the index may point outside it (an empty queue has
// index 0), which means there is no current track.
//
// GUI thread only.
class PlayQueue : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QList<QUrl> fileURLs READ fileURLs NOTIFY fileURLsChanged)
    Q_PROPERTY(qint64 currentIndex READ currentIndex NOTIFY currentIndexChanged)
    Q_PROPERTY(qint64 count READ count NOTIFY fileURLsChanged)
    Q_PROPERTY(bool isEmpty READ isEmpty NOTIFY fileURLsChanged)

public:
    using QObject::QObject;

    const QList<QUrl> &fileURLs() const { return m_fileURLs; }
    qint64 currentIndex() const { return m_currentIndex; }
    qint64 count() const { return m_fileURLs.size(); }
    bool isEmpty() const { return m_fileURLs.isEmpty(); }
    bool contains(qint64 index) const { return index >= 0 && index < count(); }

    // The URL at the current index, or an empty URL when there is none.
    QUrl currentTrackURL() const;

    void replace(const QList<QUrl> &fileURLs);
    void setCurrentIndex(qint64 index);

signals:
    void fileURLsChanged();
    void currentIndexChanged();

private:
    QList<QUrl> m_fileURLs;
    qint64 m_currentIndex = 0;
};
