#include "PlayQueue.h"

QUrl PlayQueue::currentTrackURL() const
{
    return contains(m_currentIndex) ? m_fileURLs.at(m_currentIndex) : QUrl();
}

void PlayQueue::replace(const QList<QUrl> &fileURLs)
{
    // A new list is announced even when equal to the old one: loading the same
    // folder again is a fresh queue for the views.
    m_fileURLs = fileURLs;
    emit fileURLsChanged();
}

void PlayQueue::setCurrentIndex(qint64 index)
{
    if (m_currentIndex == index)
        return;
    m_currentIndex = index;
    emit currentIndexChanged();
}
