#include "CommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>

QList<QUrl> parseCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QCoreApplication::translate("main", "Plays audio files bit-perfect on the chosen ALSA device."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("paths"),
                                 QCoreApplication::translate("main", "Audio files or folders to play."),
                                 QStringLiteral("[PATH...]"));
    parser.process(arguments);

    QList<QUrl> urls;
    for (const QString &path : parser.positionalArguments())
        urls.append(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()));
    return urls;
}
