#pragma once

#include <QList>
#include <QStringList>
#include <QUrl>

// Files and folders named on the command line, as file URLs in the order
// given. Relative paths are taken from the current directory. --help and
// --version are answered by the parser and end the process.
QList<QUrl> parseCommandLine(const QStringList &arguments);
