// The device list a user picks from: its order, who is left out, which
// device stays selected as devices come, go and change, and the rate badge.
#include "BitPerfectAudioPlayer.h"
#include "DeviceCatalogue.h"
#include "SimulatedAudioPlatform.h"
#include "TestAudio.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

namespace {
struct CatalogueRig
{
    SimulatedAudioPlatform platform;
    BitPerfectAudioPlayer player{platform, BitPerfectAudioPlayer::LoadMode::Inline};
    DeviceCatalogue catalogue{platform, player};
    QAbstractItemModelTester tester{&catalogue, QAbstractItemModelTester::FailureReportingMode::QtTest};

    quint32 selectedId() const { return catalogue.selectedDevice() ? catalogue.selectedDevice()->id : 0; }
};
} // namespace

class DeviceCatalogueTest : public QObject
{
    Q_OBJECT

private slots:
    void listsOutputDevicesByScalarValue();
    void selectionRules();
    void followsThePlatformOnceListening();
    void aPlayingTrackIsRestartedOnTheNewDeviceOnly();
    void theBadgeShowsLoadingUntilTheTrackStarts();
};

void DeviceCatalogueTest::listsOutputDevicesByScalarValue()
{
    CatalogueRig rig;
    rig.platform.addDevice({1, "b"});
    rig.platform.addDevice({2, "B"});
    rig.platform.addDevice({3, "Microphone", false});
    rig.platform.addDevice({4, "a"});
    rig.platform.addDevice({5, "b"});
    rig.catalogue.loadAudioDevices();
    QList<quint32> ids;
    for (const AudioDevice &d : rig.catalogue.devices())
        ids << d.id;
    QCOMPARE(ids, (QList<quint32>{2, 4, 1, 5})); // equal names keep the platform's order
    rig.catalogue.selectDevice(7); // out of range: ignored
    QCOMPARE(rig.selectedId(), 2u);
    rig.catalogue.selectDevice(1);
    QCOMPARE(rig.selectedId(), 4u);
    QVERIFY(rig.catalogue.data(rig.catalogue.index(1), DeviceCatalogue::IsSelectedRole).toBool());
}

void DeviceCatalogueTest::selectionRules()
{
    CatalogueRig rig;
    rig.catalogue.loadAudioDevices();
    QVERIFY(!rig.catalogue.hasSelection()); // nothing at all

    rig.platform.addDevice({10, "Zeta"});
    rig.platform.addDevice({20, "Alpha"});
    rig.catalogue.loadAudioDevices();
    QCOMPARE(rig.selectedId(), 20u); // no default: the first by name

    rig.platform.addDevice({30, "Default DAC"});
    rig.platform.setDefaultOutputDevice(30);
    rig.catalogue.loadAudioDevices();
    QCOMPARE(rig.selectedId(), 20u); // the previous selection survives

    // A device renamed under the same id is another device: the selection moves.
    QSignalSpy moved(&rig.catalogue, &DeviceCatalogue::selectionMoved);
    rig.platform.removeDevice(20);
    rig.platform.addDevice({20, "Alpha (renamed)"});
    rig.catalogue.loadAudioDevices();
    QCOMPARE(rig.selectedId(), 30u); // gone: the default
    QCOMPARE(moved.count(), 1);

    rig.platform.removeDevice(30);
    rig.catalogue.loadAudioDevices();
    QCOMPARE(rig.selectedId(), 20u); // default gone too: the first
}

void DeviceCatalogueTest::followsThePlatformOnceListening()
{
    CatalogueRig rig;
    rig.platform.addDevice({1, "One"});
    rig.catalogue.loadAudioDevices();
    rig.platform.addDevice({2, "Two"});
    QCOMPARE(rig.catalogue.count(), 1); // not listening yet
    rig.catalogue.startListening();
    rig.catalogue.startListening(); // a second call must not double the rebuilds
    QSignalSpy count(&rig.catalogue, &DeviceCatalogue::countChanged);
    rig.platform.addDevice({3, "Three"});
    QCOMPARE(rig.catalogue.count(), 3);
    QCOMPARE(count.count(), 1);
}

void DeviceCatalogueTest::aPlayingTrackIsRestartedOnTheNewDeviceOnly()
{
    CatalogueRig rig;
    auto dir = testaudio::makeTempDir();
    rig.platform.addDevice({1, "A"});
    rig.platform.addDevice({2, "B"});
    rig.platform.setDefaultOutputDevice(1);
    rig.catalogue.loadAudioDevices();
    rig.player.playBitPerfect(testaudio::writeTrack(dir->filePath("t.wav")));
    QVERIFY(rig.player.isPlaying());

    rig.platform.clearEvents();
    rig.platform.removeDevice(1); // unplugged while playing
    rig.catalogue.loadAudioDevices();
    QCOMPARE(rig.selectedId(), 2u);
    QVERIFY(rig.player.isPlaying());
    QVERIFY(rig.platform.events().contains("start 2"));

    rig.platform.clearEvents();
    rig.catalogue.loadAudioDevices(); // same list: the engine is left alone
    QVERIFY(rig.platform.events().isEmpty());
}

// While a track loads the engine still holds the previous track's rate; the
// badge must not show it as the new one's.
void DeviceCatalogueTest::theBadgeShowsLoadingUntilTheTrackStarts()
{
    SimulatedAudioPlatform platform;
    platform.addDevice({1, "A"});
    BitPerfectAudioPlayer player(platform);
    DeviceCatalogue catalogue(platform, player);
    catalogue.loadAudioDevices();
    auto dir = testaudio::makeTempDir();
    const QUrl first = testaudio::writeTrack(dir->filePath("48k.wav"), {.sampleRate = 48000});
    const QUrl second = testaudio::writeTrack(dir->filePath("44k.wav"), {.sampleRate = 44100, .frames = 441000});

    player.playBitPerfect(first);
    QCOMPARE(catalogue.sampleRateLabel(), "LOADING");
    QTRY_COMPARE(catalogue.sampleRateLabel(), "48 kHz");
    player.playBitPerfect(second);
    QCOMPARE(catalogue.sampleRateLabel(), "LOADING");
    QTRY_COMPARE(catalogue.sampleRateLabel(), "44.1 kHz");
}

QTEST_GUILESS_MAIN(DeviceCatalogueTest)
#include "tst_devicecatalogue.moc"
