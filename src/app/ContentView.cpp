#include "ContentView.h"

#include <QCoreApplication>
#include <QJSEngine>
#include <QPointer>
#include <QStandardPaths>

namespace {
QPointer<ContentView> s_instance;
}

ContentView::ContentView(AudioPlatform &platform, QObject *parent)
    : QObject(parent)
    , m_player(platform)
    , m_transport(m_queue, m_player, m_waveforms, m_clock)
    , m_intake(m_queue, m_transport, m_waveforms)
    , m_devices(platform, m_player)
    , m_devicePicker(m_devices, m_player)
    , m_tracks(m_queue, m_transport, m_waveforms)
    , m_nowPlaying(m_queue, m_transport, m_player, m_waveforms,
                   [&platform](quint32 deviceId) { return deviceNameOf(platform, deviceId); })
    , m_fileChooser(QDBusConnection::sessionBus())
    , m_tags(QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + QStringLiteral("/covers"))
    , m_desktopPlayer(m_queue, m_transport, m_player, m_intake, m_tags)
{
    connect(&m_desktopPlayer, &DesktopPlayer::raiseRequested, this, &ContentView::raiseRequested);
    // Queued, as Ctrl+Q is: the caller hears its answer before the window goes.
    connect(&m_desktopPlayer, &DesktopPlayer::quitRequested, this, &QCoreApplication::quit, Qt::QueuedConnection);
    connect(&m_player, &BitPerfectAudioPlayer::isLoadingChanged, this,
            [this] { m_waveforms.yieldToPlayback(m_player.isLoading()); });
    // The track read to play gives its waveform from memory: one decode per track.
    connect(&m_player, &BitPerfectAudioPlayer::trackInMemory, this,
            [this](const QUrl &url, std::shared_ptr<const TrackBlock> block, StreamFormat format, qint64 frames) {
                m_waveforms.loadWaveformFromMemory(url, {std::move(block), format, frames});
            });
    connectFileChooser();
}

void ContentView::connectFileChooser()
{
    connect(&m_fileChooser, &FileChooserPortal::filesChosen, &m_intake, &FileIntake::openFileURLs);
    connect(&m_fileChooser, &FileChooserPortal::folderChosen, &m_intake, &FileIntake::openFolderURL);
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

void ContentView::start()
{
    m_devices.loadAudioDevices();
    m_devices.startListening();
    m_transport.startProgressTimer();
}
