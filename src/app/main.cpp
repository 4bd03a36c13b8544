#include "AlsaAudioPlatform.h"
#include "CommandLine.h"
#include "ContentView.h"
#include "QuitOnSignal.h"

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickStyle>
#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(QuorvelPlugin)

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    QGuiApplication::setOrganizationName(QStringLiteral("Quorvel"));
    QGuiApplication::setApplicationName(QStringLiteral("QuorvelPlayer"));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("QuorvelPlayer"));
    QGuiApplication::setApplicationVersion(QStringLiteral(QUORVEL_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("quorvel-player"));
    // Every control is drawn by the player's own styles; the basic style adds
    // nothing of a desktop theme on top.
    QQuickStyle::setStyle(QStringLiteral("Basic"));

    const QList<QUrl> launchURLs = parseCommandLine(app.arguments());
    QuitOnSignal quitOnSignal;

    AlsaAudioPlatform platform;
    ContentView content(platform, launchURLs);
    ContentView::provide(&content);

    QQmlApplicationEngine engine;
    engine.addImportPath(QStringLiteral("qrc:/"));
    QObject::connect(&engine, &QQmlApplicationEngine::objectCreationFailed, &app,
                     [] { QCoreApplication::exit(1); }, Qt::QueuedConnection);
    engine.load(QUrl(QStringLiteral("qrc:/Quorvel/Main.qml")));
    return app.exec();
}
