#pragma once

#include "TrackTags.h"

#include <QHash>
#include <QObject>
#include <QThread>
#include <QUrl>
#include <optional>

// Reads tracks' tags on a thread of its own, so a slow disk or a large
// embedded picture never holds up the window, and keeps what it read for
// the tracks asked for most recently.
//
// GUI thread only; tagsRead() comes on the GUI thread.
class TagReader : public QObject
{
    Q_OBJECT

public:
    // Covers go to `coverFolder`; none are stored when it is empty.
    explicit TagReader(const QString &coverFolder, QObject *parent = nullptr);
    // Waits for the read in hand, if any (one file's tags).
    ~TagReader() override;

    // Reads `url`'s tags unless they are known or being read.
    void request(const QUrl &url);
    // The tags of `url` once read.
    std::optional<TrackTags> tags(const QUrl &url) const;

signals:
    void tagsRead(const QUrl &url);

private:
    void store(const QUrl &url, const TrackTags &tags);

    QString m_coverFolder;
    QThread m_thread;
    QObject *m_worker;
    QHash<QUrl, std::optional<TrackTags>> m_known; // nullopt: being read
};
