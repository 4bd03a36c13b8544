// The device list a user picks from: its order, who is left out, which
// device stays selected as devices come, go and change, and the rate badge.
#include "BitPerfectAudioPlayer.h"
#include "DeviceCatalogue.h"
#include "DeviceLabels.h"
#include "SimulatedAudioPlatform.h"
#include "TestAudio.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>
#include <limits>

namespace {
struct CatalogueRig
{
    SimulatedAudioPlatform platform;
    BitPerfectAudioPlayer player{platform, BitPerfectAudioPlayer::LoadMode::Inline};
    DeviceCatalogue catalogue{platform, player};
    QAbstractItemModelTester tester{&catalogue, QAbstractItemModelTester::FailureReportingMode::QtTest};

    QStringList names() const
    {
        QStringList out;
        for (const AudioDevice &d : catalogue.devices())
            out << d.name;
        return out;
    }
    quint32 selectedId() const { return catalogue.selectedDevice() ? catalogue.selectedDevice()->id : 0; }
};
} // namespace

class DeviceCatalogueTest : public QObject
{
    Q_OBJECT

private slots:
    void listsOutputDevicesByScalarValue();
    void selectionRules();
    void aRenamedDeviceIsNoLongerTheSelection();
    void followsThePlatformOnceListening();
    void pickingADeviceClosesThePicker();
    void aPlayingTrackIsRestartedOnTheNewDeviceOnly();
    void labelsSampleRate_data();
    void labelsSampleRate();
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
    QCOMPARE(rig.names(), (QStringList{"B", "a", "b", "b"}));
    QCOMPARE(rig.catalogue.devices().at(2).id, 1u); // equal names keep the platform's order
    QCOMPARE(rig.catalogue.devices().at(3).id, 5u);
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

    rig.platform.removeDevice(20);
    rig.catalogue.loadAudioDevices();
    QCOMPARE(rig.selectedId(), 30u); // gone: the default

    rig.platform.removeDevice(30);
    rig.catalogue.loadAudioDevices();
    QCOMPARE(rig.selectedId(), 10u); // default gone too: the first
}

void DeviceCatalogueTest::aRenamedDeviceIsNoLongerTheSelection()
{
    CatalogueRig rig;
    rig.platform.addDevice({1, "USB DAC"});
    rig.platform.addDevice({2, "Speakers"});
    rig.platform.setDefaultOutputDevice(2);
    rig.catalogue.loadAudioDevices();
    rig.catalogue.selectDevice(1); // "USB DAC" sorts second
    QCOMPARE(rig.selectedId(), 1u);

    QSignalSpy moved(&rig.catalogue, &DeviceCatalogue::selectionMoved);
    rig.platform.removeDevice(1);
    rig.platform.addDevice({1, "USB DAC (renamed)"});
    rig.catalogue.loadAudioDevices();
    QCOMPARE(rig.selectedId(), 2u);
    QCOMPARE(moved.count(), 1);
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

void DeviceCatalogueTest::pickingADeviceClosesThePicker()
{
    CatalogueRig rig;
    rig.platform.addDevice({1, "A"});
    rig.platform.addDevice({2, "B"});
    rig.catalogue.loadAudioDevices();
    QSignalSpy moved(&rig.catalogue, &DeviceCatalogue::selectionMoved);
    QSignalSpy selected(&rig.catalogue, &DeviceCatalogue::selectedDeviceChanged);

    rig.catalogue.setIsDevicePickerPresented(true);
    rig.catalogue.selectDevice(0); // already selected
    QVERIFY(!rig.catalogue.isDevicePickerPresented());
    QCOMPARE(moved.count(), 0);
    QCOMPARE(selected.count(), 0);

    rig.catalogue.setIsDevicePickerPresented(true);
    rig.catalogue.selectDevice(1);
    QVERIFY(!rig.catalogue.isDevicePickerPresented());
    QCOMPARE(moved.count(), 1);
    QCOMPARE(moved.first().first().toUInt(), 2u);
    QVERIFY(rig.catalogue.data(rig.catalogue.index(1), DeviceCatalogue::IsSelectedRole).toBool());

    rig.catalogue.selectDevice(7); // out of range: closes, changes nothing
    QCOMPARE(rig.selectedId(), 2u);
}

void DeviceCatalogueTest::aPlayingTrackIsRestartedOnTheNewDeviceOnly()
{
    CatalogueRig rig;
    auto dir = testaudio::makeTempDir();
    const QUrl track = testaudio::writeTrack(dir->filePath("t.wav"));
    rig.platform.addDevice({1, "A"});
    rig.platform.addDevice({2, "B"});
    rig.platform.setDefaultOutputDevice(1);
    rig.catalogue.loadAudioDevices();
    rig.player.playBitPerfect(track);
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

void DeviceCatalogueTest::labelsSampleRate_data()
{
    QTest::addColumn<double>("rate");
    QTest::addColumn<QString>("text");

    QTest::newRow("no rate yet") << 0.0 << "READY";
    QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << "READY";
    QTest::newRow("infinite") << std::numeric_limits<double>::infinity() << "READY";
    QTest::newRow("whole kilohertz") << 192000.0 << "192 kHz";
    QTest::newRow("one decimal") << 44100.0 << "44.1 kHz";
    QTest::newRow("rounded to one decimal") << 22050.0 << "22.1 kHz";
}

void DeviceCatalogueTest::labelsSampleRate()
{
    QFETCH(double, rate);
    QFETCH(QString, text);
    QCOMPARE(sampleRateLabel(rate), text);
    QCOMPARE(sampleRateLabel(rate, true), "LOADING");
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
    const QString first = dir->filePath("48k.wav");
    const QString second = dir->filePath("44k.wav");
    testaudio::Recipe recipe;
    recipe.sampleRate = 48000;
    QVERIFY(testaudio::write(first, recipe));
    recipe.sampleRate = 44100;
    recipe.frames = 441000;
    QVERIFY(testaudio::write(second, recipe));

    player.playBitPerfect(QUrl::fromLocalFile(first));
    QCOMPARE(catalogue.sampleRateLabel(), "LOADING");
    QTRY_COMPARE(catalogue.sampleRateLabel(), "48 kHz");
    player.playBitPerfect(QUrl::fromLocalFile(second));
    QCOMPARE(catalogue.sampleRateLabel(), "LOADING");
    QTRY_COMPARE(catalogue.sampleRateLabel(), "44.1 kHz");
}

QTEST_GUILESS_MAIN(DeviceCatalogueTest)
#include "tst_devicecatalogue.moc"
