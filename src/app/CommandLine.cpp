#include "CommandLine.h"

#include "TrackPath.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <filesystem>

namespace {
// The parser sees decoded text, which loses bytes that are not UTF-8; the
// paths are taken from argv itself, in the order the parser found them.
QList<QByteArray> positionalBytes(int argc, char *argv[])
{
    QList<QByteArray> paths;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (!optionsEnded && argument == "--")
            optionsEnded = true;
        else if (optionsEnded || !argument.startsWith('-') || argument == "-")
            paths.append(argument);
    }
    return paths;
}

QByteArray absolute(const QByteArray &path)
{
    if (path.startsWith('/'))
        return path;
    std::error_code error;
    const std::string here = std::filesystem::current_path(error).native();
    return QByteArray::fromStdString(here) + '/' + path;
}
} // namespace

QList<QUrl> parseCommandLine(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QCoreApplication::translate("main", "Plays audio files bit-perfect on the chosen ALSA device."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("paths"),
                                 QCoreApplication::translate("main", "Audio files or folders to play."),
                                 QStringLiteral("[PATH...]"));
    parser.process(arguments);

    QList<QByteArray> paths = positionalBytes(argc, argv);
    if (paths.size() != parser.positionalArguments().size()) { // a spelling argv alone cannot tell
        paths.clear();
        for (const QString &path : parser.positionalArguments())
            paths.append(QFile::encodeName(path));
    }
    QList<QUrl> urls;
    for (const QByteArray &path : std::as_const(paths))
        urls.append(trackpath::urlOf(absolute(path)));
    return urls;
}
