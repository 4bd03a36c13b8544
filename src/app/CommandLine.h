#pragma once

#include <QList>
#include <QUrl>

// Files and folders named on the command line, as file URLs in the order
// given. Relative paths are taken from the current directory. --help and
// --version are answered by the parser and end the process. A path keeps its
// bytes whether or not they are UTF-8 (TrackPath.h).
QList<QUrl> parseCommandLine(int argc, char *argv[]);
