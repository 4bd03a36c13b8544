#pragma once

#include <QByteArray>
#include <sys/stat.h>

// What tells one version of a file from the next: a track kept in memory is
// played again from memory only while its file still has the same stamp.
struct FileStamp
{
    qint64 size = -1;
    qint64 modifiedNs = 0;

    bool isValid() const { return size >= 0; }
    friend bool operator==(const FileStamp &, const FileStamp &) = default;
};

// Any thread; `path` is the file system's bytes (TrackPath.h). Invalid when
// the file cannot be looked at.
inline FileStamp fileStampOf(const QByteArray &path)
{
    struct stat info = {};
    if (path.isEmpty() || stat(path.constData(), &info) != 0)
        return {};
    return {qint64(info.st_size), qint64(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec};
}
