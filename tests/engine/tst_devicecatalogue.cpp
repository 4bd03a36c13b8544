// The device list a user picks from: its order, who is left out, which
// device stays selected as devices come, go and change. The hand-over of a
// playing track to another device is checked in tst_engine_player and, through
// the catalogue, in tst_mainscreen.
#include "BitPerfectAudioPlayer.h"
#include "DeviceCatalogue.h"
#include "SimulatedAudioPlatform.h"

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

QTEST_GUILESS_MAIN(DeviceCatalogueTest)
#include "tst_devicecatalogue.moc"
