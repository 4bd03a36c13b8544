#include "AlsaAudioPlatform.h"
#include "CommandLine.h"
#include "ContentView.h"
#include "MprisService.h"
#include "QuitOnSignal.h"
#include "RunningPlayer.h"
#include "WindowSystem.h"

#include <QDBusConnection>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QQuickStyle>
#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(QuorvelPlugin)

namespace {
void setIdentity()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Quorvel"));
    QCoreApplication::setApplicationName(QStringLiteral("QuorvelPlayer"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUORVEL_VERSION));
}

// --help, --version and a mistyped option are answered before any window
// system is needed, so they work over ssh and in scripts.
QList<QUrl> readCommandLine(int argc, char *argv[])
{
    QCoreApplication probe(argc, argv);
    setIdentity();
    return parseCommandLine(argc, argv);
}

// The window shows before the devices are listed (asking a sound server
// may take a moment) and before any track plays; files and folders named on
// the command line are then taken in as a drop would be, on the device just
// selected, so the first track starts once. The first of them is read
// meanwhile (FileIntake::prepareLaunch).
void startOnFirstFrame(QQmlApplicationEngine &engine, ContentView &content)
{
    auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().value(0));
    if (!window)
        return; // the load failed, and the application is ending
    QObject::connect(
        window, &QQuickWindow::frameSwapped, &content,
        [&content] {
            content.start();
            content.intake()->takeLaunch();
        },
        Qt::SingleShotConnection);
}
} // namespace

int main(int argc, char *argv[])
{
    const QList<QUrl> launchURLs = readCommandLine(argc, argv);
    windowsystem::applyToProcess();
    QGuiApplication app(argc, argv);
    setIdentity();
    QGuiApplication::setApplicationDisplayName(QStringLiteral("QuorvelPlayer"));
    QGuiApplication::setDesktopFileName(QStringLiteral(QUORVEL_DESKTOP_ENTRY));
    // One player per desktop session: a second start hands over and goes.
    if (runningplayer::handOver(QDBusConnection::sessionBus(), launchURLs))
        return 0;
    // Every control is drawn by the player's own styles; the basic style adds
    // nothing of a desktop theme on top.
    QQuickStyle::setStyle(QStringLiteral("Basic"));

    QuitOnSignal quitOnSignal;

    AlsaAudioPlatform platform;
    ContentView content(platform);
    ContentView::provide(&content);
    content.intake()->prepareLaunch(launchURLs);
    MprisService mpris(*content.desktopPlayer(), QGuiApplication::desktopFileName());
    mpris.publish(QDBusConnection::sessionBus());

    QQmlApplicationEngine engine;
    engine.addImportPath(QStringLiteral("qrc:/"));
    QObject::connect(&engine, &QQmlApplicationEngine::objectCreationFailed, &app,
                     [] { QCoreApplication::exit(1); }, Qt::QueuedConnection);
    engine.load(QUrl(QStringLiteral("qrc:/Quorvel/Main.qml")));
    startOnFirstFrame(engine, content);
    return app.exec();
}
