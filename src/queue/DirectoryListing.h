#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>
#include <functional>
#include <optional>
#include <string_view>

// Lists a folder's immediate entries as file URLs: files and subfolders alike,
// hidden entries (names starting with a dot) skipped, nothing entered, in the
// order the file system returns them. `path` and the names are the file
// system's bytes, kept in the URLs whether or not they are UTF-8
// (TrackPath.h).
//
// Any thread. On failure returns nothing and, when `error` is given, sets it to
// a description that names the folder and the reason
// ("/music/x: Permission denied").
//
// `keep`, when given, sees each raw file name first; entries it refuses are
// never turned into URLs, which is most of the cost in a folder of thousands.
std::optional<QList<QUrl>> listDirectory(const QByteArray &path, QString *error = nullptr,
                                         const std::function<bool(std::string_view)> &keep = {});
