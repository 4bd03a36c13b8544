#pragma once

#include <QByteArray>
#include <QString>

// Reading and writing test files whole: captures, and files a test breaks on
// purpose (header edits are in HostileFiles.h).
namespace testfiles {

// The whole file; empty when it cannot be read.
QByteArray readAll(const QString &path);

// Replaces the file's contents; false when it cannot be written whole.
bool writeAll(const QString &path, const QByteArray &bytes);

} // namespace testfiles
