#pragma once

#include <QByteArray>
#include <QString>

// Reading and editing test files byte by byte: for captures, and for files
// whose headers a test breaks on purpose.
namespace testfiles {

// The whole file; empty when it cannot be read.
QByteArray readAll(const QString &path);

// Replaces the file's contents; false when it cannot be written whole.
bool writeAll(const QString &path, const QByteArray &bytes);

// Sets the 36-bit total sample count of a FLAC file's STREAMINFO, the length
// decoders announce; false when the file does not start with one.
bool setFlacTotalFrames(const QString &path, quint64 total);

} // namespace testfiles
