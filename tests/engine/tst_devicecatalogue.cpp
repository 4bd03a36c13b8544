// The device list a user picks from: its order, who is left out, which
// device stays selected as devices come, go and change. The hand-over of a
// playing track to another device is checked in tst_engine_player and, through
// the catalogue, in tst_mainscreen.
#include "BitPerfectAudioPlayer.h"
#include "DefaultDevice.h"
#include "DeviceCatalogue.h"
#include "SimulatedAudioPlatform.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

namespace {
struct CatalogueRig
{
    SimulatedAudioPlatform platform;
    BitPerfectAudioPlayer player{platform, loadsAtOnce()};
    DeviceCatalogue catalogue{platform, player};
    QAbstractItemModelTester tester{&catalogue, QAbstractItemModelTester::FailureReportingMode::QtTest};

    quint32 selectedId() const { return catalogue.selectedDevice() ? catalogue.selectedDevice()->id : 0; }
};
} // namespace

Q_DECLARE_METATYPE(ServerDefault)

class DeviceCatalogueTest : public QObject
{
    Q_OBJECT

private slots:
    void listsOutputDevicesByScalarValueOnceListening();
    void selectionRules();
    void theListenersOwnDeviceComesFirst_data();
    void theListenersOwnDeviceComesFirst();
};

// Outputs only, by the scalar values of their names; the platform's changes
// are followed once the catalogue listens, and only then.
void DeviceCatalogueTest::listsOutputDevicesByScalarValueOnceListening()
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

    rig.platform.addDevice({6, "c"});
    QCOMPARE(rig.catalogue.count(), 4); // not listening yet
    rig.catalogue.startListening();
    rig.catalogue.startListening(); // a second call must not double the rebuilds
    QSignalSpy count(&rig.catalogue, &DeviceCatalogue::countChanged);
    rig.platform.addDevice({7, "d"});
    QCOMPARE(rig.catalogue.count(), 6);
    QCOMPARE(count.count(), 1);
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
    QSignalSpy moved(&rig.catalogue, &DeviceCatalogue::selectedDeviceChanged);
    rig.platform.removeDevice(20);
    rig.platform.addDevice({20, "Alpha (renamed)"});
    rig.catalogue.loadAudioDevices();
    QCOMPARE(rig.selectedId(), 30u); // gone: the default
    QCOMPARE(moved.count(), 1);

    rig.platform.removeDevice(30);
    rig.catalogue.loadAudioDevices();
    QCOMPARE(rig.selectedId(), 20u); // default gone too: the first

    // A query that fails says nothing about the devices: all stays.
    rig.platform.setEnumerationFails(true);
    rig.platform.removeDevice(20);
    rig.catalogue.loadAudioDevices();
    QCOMPARE(rig.catalogue.count(), 2);
    QCOMPARE(rig.selectedId(), 20u);
}

// Which device a desktop plays to first, from what its sound server (or,
// without one, ALSA) says.
void DeviceCatalogueTest::theListenersOwnDeviceComesFirst_data()
{
    QTest::addColumn<QList<AlsaPcm>>("pcms");
    QTest::addColumn<ServerDefault>("server");
    QTest::addColumn<int>("alsaDefaultCard"); // -1: none
    QTest::addColumn<QString>("chosen");      // empty: none
    const auto pcm = [](const char *name, int card, int device) {
        const QByteArray pcmName = QByteArray("hw:") + QByteArray::number(card) + "," + QByteArray::number(device);
        return AlsaPcm{{deviceIdForPcm(pcmName), QString::fromLatin1(name), true}, pcmName, card, device};
    };
    const QList<AlsaPcm> desktop{pcm("GPU, HDMI 0", 2, 3), pcm("PCH, ALC892 Analog", 0, 0),
                                pcm("PCH, ALC892 Digital", 0, 1), pcm("USB DAC, USB Audio", 1, 0)};
    QTest::newRow("server plays to the USB DAC") << desktop << ServerDefault{true, 1, 0} << -1 << "USB DAC, USB Audio";
    QTest::newRow("server plays to HDMI") << desktop << ServerDefault{true, 2, 3} << -1 << "GPU, HDMI 0";
    QTest::newRow("server's sink names no device") << desktop << ServerDefault{true, 1, -1} << -1 << "USB DAC, USB Audio";
    QTest::newRow("server's sink on no card") << desktop << ServerDefault{true, -1, -1} << 1 << "PCH, ALC892 Analog";
    QTest::newRow("no server: ALSA's default card") << desktop << ServerDefault{} << 1 << "USB DAC, USB Audio";
    QTest::newRow("no server, no default") << desktop << ServerDefault{} << -1 << "PCH, ALC892 Analog";
    QTest::newRow("only HDMI") << QList<AlsaPcm>{desktop[0]} << ServerDefault{} << -1 << "GPU, HDMI 0";
    QTest::newRow("nothing") << QList<AlsaPcm>{} << ServerDefault{true, 1, 0} << 1 << "";
}

void DeviceCatalogueTest::theListenersOwnDeviceComesFirst()
{
    QFETCH(QList<AlsaPcm>, pcms);
    QFETCH(ServerDefault, server);
    QFETCH(int, alsaDefaultCard);
    QFETCH(QString, chosen);
    const std::optional<quint32> id =
        chooseDefaultDevice(pcms, server, alsaDefaultCard < 0 ? std::nullopt : std::optional<int>(alsaDefaultCard));
    QString name;
    for (const AlsaPcm &pcm : pcms)
        if (id == pcm.device.id)
            name = pcm.device.name;
    QCOMPARE(name, chosen);
}

QTEST_GUILESS_MAIN(DeviceCatalogueTest)
#include "tst_devicecatalogue.moc"
