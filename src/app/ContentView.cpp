#include "ContentView.h"

#include "AudioFileRule.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QJSEngine>
#include <QPointer>
#include <QStandardPaths>

namespace {
QPointer<ContentView> s_instance;
}

ContentView::ContentView(AudioPlatform &platform, const QList<QUrl> &launchURLs, QObject *parent)
    : QObject(parent)
    , m_player(platform)
    , m_transport(m_queue, m_player, m_waveforms, m_clock)
    , m_intake(m_queue, m_transport, m_waveforms)
    , m_devices(platform, m_player)
    , m_tracks(m_queue, m_transport, m_waveforms)
    , m_nowPlaying(m_queue, m_transport, m_player, m_waveforms,
                   [&platform](quint32 deviceId) { return deviceNameOf(platform, deviceId); })
    , m_fileChooser(QDBusConnection::sessionBus())
    , m_tags(QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + QStringLiteral("/covers"))
    , m_desktopPlayer(m_queue, m_transport, m_player, m_intake, m_tags)
    , m_launchURLs(launchURLs)
{
    connect(&m_desktopPlayer, &DesktopPlayer::raiseRequested, this, &ContentView::raiseRequested);
    // Queued, as Ctrl+Q is: the caller hears its answer before the window goes.
    connect(&m_desktopPlayer, &DesktopPlayer::quitRequested, this, &QCoreApplication::quit, Qt::QueuedConnection);
    connect(&m_player, &BitPerfectAudioPlayer::isLoadingChanged, this,
            [this] { m_waveforms.yieldToPlayback(m_player.isLoading()); });
    connectFileChooser();
}

void ContentView::connectFileChooser()
{
    connect(&m_fileChooser, &FileChooserPortal::filesChosen, &m_intake, &FileIntake::openFileURLs);
    connect(&m_fileChooser, &FileChooserPortal::folderChosen, &m_intake, &FileIntake::openFolderURL);
    connect(&m_fileChooser, &FileChooserPortal::unavailable, this, [this](FileChooserPortal::Kind kind) {
        if (kind == FileChooserPortal::Kind::Files)
            emit fileDialogRequested();
        else
            emit folderDialogRequested();
    });
}

ContentView::~ContentView()
{
    // Workers must not hop back into a screen that is going away.
    m_waveforms.cancelWaveformLoading();
}

void ContentView::provide(ContentView *instance)
{
    s_instance = instance;
}

ContentView *ContentView::create(QQmlEngine *, QJSEngine *)
{
    Q_ASSERT_X(s_instance, "ContentView::create", "provide() the screen before loading QML");
    QJSEngine::setObjectOwnership(s_instance, QJSEngine::CppOwnership);
    return s_instance;
}

QStringList ContentView::audioFileNameFilters() const
{
    // Qt's built-in dialog takes its globs from the filter's own text.
    return {tr("Audio files (%1)").arg(FileChooserPortal::audioFilterGlobs().join(QLatin1Char(' ')))};
}

void ContentView::openFile()
{
    m_fileChooser.open(FileChooserPortal::Kind::Files,
                       FileChooserPortal::parentWindowHandle(QGuiApplication::focusWindow()));
}

void ContentView::openFolder()
{
    m_fileChooser.open(FileChooserPortal::Kind::Folder,
                       FileChooserPortal::parentWindowHandle(QGuiApplication::focusWindow()));
}

void ContentView::firstShown()
{
    if (m_wasShown)
        return;
    m_wasShown = true;
    m_devices.loadAudioDevices();
    m_devices.startListening();
    m_transport.startProgressTimer();
    if (!m_launchURLs.isEmpty())
        m_intake.handleDrop(std::exchange(m_launchURLs, {}));
}
