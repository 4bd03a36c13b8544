#include "DirectoryListing.h"

#include "TrackPath.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <memory>

namespace {
struct DirCloser
{
    void operator()(DIR *dir) const { closedir(dir); }
};

QString describe(const QByteArray &path, int error)
{
    return QStringLiteral("\u201C%1\u201D: %2")
        .arg(trackpath::displayPath(path), QString::fromLocal8Bit(std::strerror(error)));
}
} // namespace

std::optional<QList<QUrl>> listDirectory(const QByteArray &path, QString *error,
                                         const std::function<bool(std::string_view)> &keep)
{
    // readdir rather than QDir: QDir hides why a listing failed, and the reason
    // is what the user needs to read.
    std::unique_ptr<DIR, DirCloser> dir(opendir(path.constData()));
    if (!dir) {
        if (error)
            *error = describe(path, errno);
        return std::nullopt;
    }
    QByteArray base = path;
    if (!base.endsWith('/'))
        base += '/';
    QList<QUrl> entries;
    for (;;) {
        errno = 0; // readdir signals an error only through errno
        const dirent *entry = readdir(dir.get());
        if (!entry)
            break;
        if (entry->d_name[0] != '.' && (!keep || keep(entry->d_name)))
            entries.append(trackpath::urlOf(base + entry->d_name)); // the name's bytes, as they are
    }
    if (errno != 0) {
        if (error)
            *error = describe(path, errno);
        return std::nullopt;
    }
    return entries;
}
