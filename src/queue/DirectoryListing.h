#pragma once

#include <QList>
#include <QString>
#include <QUrl>
#include <optional>

// Lists a folder's immediate entries as file URLs: files and subfolders alike,
// hidden entries (names starting with a dot) skipped, nothing entered, in the
// order the file system returns them.
//
// Any thread. On failure returns nothing and, when `error` is given, sets it to
// a description that names the folder and the reason
// ("/music/x: Permission denied").
std::optional<QList<QUrl>> listDirectory(const QString &path, QString *error = nullptr);
