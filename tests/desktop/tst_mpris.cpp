// The player as the desktop's media controls see it on a private session bus:
// playerctl as media keys and the shell use it, busctl for the types on the
// wire. TagLib itself writes the tags and covers.
#include "DesktopPlayer.h"
#include "MprisService.h"
#include "PrivateBus.h"
#include "QueueRig.h"
#include "TagReader.h"

#include <QDBusConnection>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <taglib/aifffile.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/fileref.h>
#include <taglib/flacfile.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tpropertymap.h>
#include <taglib/wavfile.h>

namespace {

constexpr int kMp3 = SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
const QByteArray kCover = QByteArrayLiteral("\xFF\xD8\xFF\xE0 a front cover, as far as anyone checks");

enum class Cover { None, Embedded, Beside };

TagLib::ByteVector bytes(const QByteArray &b)
{
    return {b.constData(), uint(b.size())};
}

TagLib::String utf8(const QString &s)
{
    return {s.toStdString(), TagLib::String::UTF8};
}

// The front cover in the block each format keeps its pictures in.
void embedCover(TagLib::File *file)
{
    if (auto *flac = dynamic_cast<TagLib::FLAC::File *>(file)) {
        auto *picture = new TagLib::FLAC::Picture;
        picture->setType(TagLib::FLAC::Picture::FrontCover);
        picture->setData(bytes(kCover));
        return flac->addPicture(picture);
    }
    auto *frame = new TagLib::ID3v2::AttachedPictureFrame;
    frame->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
    frame->setPicture(bytes(kCover));
    auto *mp3 = dynamic_cast<TagLib::MPEG::File *>(file);
    auto *wav = dynamic_cast<TagLib::RIFF::WAV::File *>(file);
    (mp3 ? mp3->ID3v2Tag(true) : wav ? wav->ID3v2Tag() : dynamic_cast<TagLib::RIFF::AIFF::File &>(*file).tag())
        ->addFrame(frame);
}

void writeTags(const QString &path, const QString &title, const QStringList &artists, Cover cover)
{
    TagLib::FileRef ref(QFile::encodeName(path).constData());
    TagLib::PropertyMap properties;
    properties.insert("ALBUM", utf8("Sketches"));
    properties.insert("TRACKNUMBER", utf8("7/9"));
    if (!title.isEmpty())
        properties.insert("TITLE", utf8(title));
    for (const QString &artist : artists)
        properties["ARTIST"].append(utf8(artist));
    ref.file()->setProperties(properties);
    if (cover == Cover::Embedded)
        embedCover(ref.file());
    QVERIFY(ref.save());
}

// Runs a client to its end while this thread goes on answering the bus.
QByteArray run(const QString &program, const QStringList &arguments)
{
    QProcess client;
    client.start(program, arguments);
    if (!client.waitForStarted() || !QTest::qWaitFor([&] { return client.state() == QProcess::NotRunning; }, 20000))
        return "(did not run)";
    return client.readAllStandardOutput().trimmed();
}

QByteArray playerctl(const QStringList &arguments)
{
    return run(QStringLiteral("playerctl"), QStringList{"--player=quorvelplayer"} + arguments);
}

// busctl's JSON of a call, as {"type": ..., "data": [...]}.
QJsonObject busctl(const QStringList &arguments)
{
    const QStringList head{"--user", "--json=short", "call", MprisService::serviceName, MprisService::objectPath};
    return QJsonDocument::fromJson(run(QStringLiteral("busctl"), head + arguments)).object();
}

// "name:type" of every entry of a dictionary as busctl shows it, in name order.
QString signature(const QJsonObject &dictionary)
{
    QStringList entries;
    for (auto it = dictionary.begin(); it != dictionary.end(); ++it)
        entries << it.key() + ':' + it.value().toObject()["type"].toString();
    return entries.join(' ');
}

} // namespace

// The queue's rig with the desktop's player on the bus.
struct DesktopRig : QueueRig
{
    TagReader tags{dir->filePath("cache/covers")};
    DesktopPlayer desktop{queue, transport, player, intake, tags};
    MprisService service{desktop, QStringLiteral("quorvel-player")};
    bool published = service.publish(QDBusConnection::sessionBus());
};

class MprisTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void metadataFromTheTrackOwnTags_data();
    void metadataFromTheTrackOwnTags();
    void commandsFollowTheTransportRules_data();
    void commandsFollowTheTransportRules();

public slots:
    void propertiesChanged(const QString &interface, const QVariantMap &changed, const QStringList &);
    void seeked(qlonglong position) { m_seeks << position; }

private:
    QString heard(int *repeats = nullptr) const;

    std::unique_ptr<QTemporaryDir> m_dir = testaudio::makeTempDir();
    PrivateBus m_bus;
    QList<QVariantMap> m_announcements;
    QList<qlonglong> m_seeks;
};

void MprisTest::initTestCase()
{
    m_bus.start(m_dir->path());
    // A listener of its own, as the desktop's shell is.
    QDBusConnection listener = QDBusConnection::connectToBus(m_bus.address(), QStringLiteral("listener"));
    QVERIFY(listener.connect(QString(), MprisService::objectPath, "org.freedesktop.DBus.Properties",
                             "PropertiesChanged", this, SLOT(propertiesChanged(QString, QVariantMap, QStringList))));
    QVERIFY(listener.connect(QString(), MprisService::objectPath, "org.mpris.MediaPlayer2.Player", "Seeked", this,
                             SLOT(seeked(qlonglong))));
}

void MprisTest::propertiesChanged(const QString &interface, const QVariantMap &changed, const QStringList &)
{
    QCOMPARE(interface, "org.mpris.MediaPlayer2.Player");
    QVERIFY(!changed.contains("Position"));
    m_announcements << changed;
}

void MprisTest::metadataFromTheTrackOwnTags_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QStringList>("artists");
    QTest::addColumn<Cover>("cover");
    QTest::addColumn<bool>("damaged");
    const int flac = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    QTest::newRow("flac, two artists, embedded cover") << flac << "Blue" << QStringList{"Ann Lee", "Bo"} << Cover::Embedded << false;
    QTest::newRow("flac, no title, cover.jpg beside") << flac << "" << QStringList{"Ann Lee"} << Cover::Beside << false;
    QTest::newRow("mp3, APIC cover") << kMp3 << "Grün" << QStringList{"Cé"} << Cover::Embedded << false;
    QTest::newRow("wav, APIC cover") << int(SF_FORMAT_WAV | SF_FORMAT_PCM_24) << "W" << QStringList{"D"} << Cover::Embedded << false;
    QTest::newRow("aiff, APIC cover") << int(SF_FORMAT_AIFF | SF_FORMAT_PCM_16) << "A" << QStringList{"E"} << Cover::Embedded << false;
    QTest::newRow("aiff, no cover") << int(SF_FORMAT_AIFF | SF_FORMAT_PCM_16) << "A" << QStringList{"E"} << Cover::None << false;
    QTest::newRow("mp3, damaged tag block") << kMp3 << "Lost" << QStringList{"F"} << Cover::Embedded << true;
}

void MprisTest::metadataFromTheTrackOwnTags()
{
    QFETCH(int, format);
    QFETCH(QString, title);
    QFETCH(QStringList, artists);
    QFETCH(Cover, cover);
    QFETCH(bool, damaged);
    DesktopRig rig;
    QVERIFY(rig.published);
    const QString path = rig.dir->filePath("album/01 track." + testaudio::extension(format));
    testaudio::writeTrack(path, {.format = format, .sampleRate = 48000, .frames = 24000});
    writeTags(path, title, artists, cover);
    if (cover == Cover::Beside)
        testfiles::writeAll(rig.dir->filePath("album/cover.jpg"), kCover);
    if (damaged) { // every frame of the ID3v2 block overwritten, its header intact; no ID3v1
        QByteArray bytes = testfiles::readAll(path);
        bytes.replace(10, 200, QByteArray(200, '\xFF'));
        if (bytes.sliced(bytes.size() - 128).startsWith("TAG"))
            bytes.chop(128);
        testfiles::writeAll(path, bytes);
    }
    rig.intake.loadPlaylist({QUrl::fromLocalFile(path)});
    QVERIFY(rig.player.isPlaying());
    QTRY_VERIFY(rig.tags.tags(QUrl::fromLocalFile(path)));

    const QStringList shown = QString::fromUtf8(playerctl({"metadata", "--format", "{{title}}|{{artist}}"})).split('|');
    QCOMPARE(shown.value(0), damaged || title.isEmpty() ? "01 track." + testaudio::extension(format) : title);
    QCOMPARE(shown.value(1), damaged ? QString() : artists.join(", "));

    const QJsonObject all =
        busctl({"org.freedesktop.DBus.Properties", "GetAll", "s", "org.mpris.MediaPlayer2.Player"})["data"][0].toObject();
    QCOMPARE(all["PlaybackStatus"]["data"].toString(), "Playing");
    QCOMPARE(signature(all), "CanControl:b CanGoNext:b CanGoPrevious:b CanPause:b CanPlay:b CanSeek:b "
                             "MaximumRate:d Metadata:a{sv} MinimumRate:d PlaybackStatus:s Position:x Rate:d Volume:d");
    const QJsonObject metadata = all["Metadata"]["data"].toObject();
    QStringList fields{"mpris:length:x", "mpris:trackid:o", "xesam:title:s", "xesam:url:s"};
    if (!damaged)
        fields << "xesam:album:s" << "xesam:artist:as" << "xesam:trackNumber:i";
    if (!damaged && cover != Cover::None)
        fields << "mpris:artUrl:s";
    fields.sort();
    QCOMPARE(signature(metadata), fields.join(' '));
    QVERIFY(!metadata["mpris:trackid"]["data"].toString().startsWith("/org/mpris"));
    QCOMPARE(metadata["mpris:length"]["data"].toInteger(), qint64(rig.player.duration() * 1e6 + 0.5));
    QCOMPARE(metadata["xesam:url"]["data"].toString(), QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded));
    QCOMPARE(metadata["xesam:artist"]["data"].toVariant().toStringList(), damaged ? QStringList() : artists);
    if (fields.contains("mpris:artUrl:s"))
        QCOMPARE(testfiles::readAll(QUrl(metadata["mpris:artUrl"]["data"].toString()).toLocalFile()), kCover);
}

// The status and CanGoNext ("1" or "0") as the announcements so far tell
// them; `repeats` counts announcements of a value already announced.
QString MprisTest::heard(int *repeats) const
{
    QVariantMap heard;
    for (const QVariantMap &announced : std::as_const(m_announcements)) {
        for (auto it = announced.cbegin(); it != announced.cend(); ++it) {
            if (repeats && heard.value(it.key()) == it.value())
                ++*repeats;
        }
        heard.insert(announced);
    }
    return heard.value("PlaybackStatus").toString() + (heard.value("CanGoNext").toBool() ? " 1" : " 0");
}

// Each step: a command (playerctl's, busctl's, or "end": the track plays out),
// then the status, the current row, CanGoNext and, where given, the frame the
// device receives next and the position announced as Seeked.
void MprisTest::commandsFollowTheTransportRules_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::newRow("pause, play, stop, play")
        << QStringList{"pause|Paused 0 1", "play|Playing 0 1", "play-pause|Paused 0 1",
                       "play-pause|Playing 0 1", "stop|Stopped 0 1", "play|Playing 0 1 0"};
    QTest::newRow("next at the last track leaves it where it is, its end stops")
        << QStringList{"next|Playing 1 1", "next|Playing 2 0", "position 0.05+|Playing 2 0 2205 50000", "next|Playing 2 0 2717",
                       "end|Stopped 2 0"};
    QTest::newRow("previous early goes back, later restarts, on the first track restarts")
        << QStringList{"next|Playing 1 1", "position 0.004|Playing 1 1 176 3991", "previous|Playing 0 1",
                       "next|Playing 1 1", "position 0.05+|Playing 1 1 2205 50000", "previous|Playing 1 1 0 0",
                       "previous|Playing 0 1", "previous|Playing 0 1 0 0"};
    QTest::newRow("open replaces the queue") << QStringList{"open|Playing 0 0 0"};
    QTest::newRow("seeks") << QStringList{"position 0.05+|Playing 0 1 2205 50000", "position 0.02|Playing 0 1 882 20000",
                                          "position 5+|Playing 1 1 0"};
    QTest::newRow("a position for a track of an older queue")
        << QStringList{"busctl SetPosition ox /org/quorvel/QuorvelPlayer/track/q0_0 50000|Playing 0 1 0"};
}

void MprisTest::commandsFollowTheTransportRules()
{
    QFETCH(QStringList, steps);
    DesktopRig rig;
    QVERIFY(rig.published);
    m_announcements.clear();
    rig.intake.loadPlaylist(rig.threeTracks());
    const QUrl single = rig.track("single.wav");
    for (const QString &step : std::as_const(steps)) {
        QStringList command = step.section('|', 0, 0).split(' ');
        const QStringList then = step.section('|', 1).split(' ');
        m_seeks.clear();
        if (command[0] == "end")
            rig.platform.renderToEnd();
        else if (command[0] == "busctl")
            busctl(QStringList{"org.mpris.MediaPlayer2.Player"} + command.mid(1));
        else
            playerctl(command[0] == "open" ? QStringList{"open", single.toString()} : command);
        QTRY_COMPARE(rig.desktop.playbackStatus(), then[0]);
        QCOMPARE(rig.queue.currentIndex(), then[1].toInt());
        // What the desktop heard matches.
        QTRY_COMPARE(heard(), then[0] + ' ' + then[2]);
        if (then.size() > 3) {
            const qint64 frame = then[3].toLongLong();
            rig.platform.clearCaptured();
            rig.platform.renderStep(512);
            QCOMPARE(rig.platform.captured(1), rig.dataOf(rig.queue.currentTrackURL()).mid(frame * 4, 512 * 4));
        }
        if (then.size() > 4)
            QTRY_COMPARE(m_seeks, QList<qlonglong>{then[4].toLongLong()});
        else
            QCOMPARE(m_seeks, QList<qlonglong>{});
    }
    // Each change once.
    int repeats = 0;
    heard(&repeats);
    QCOMPARE(repeats, 0);
    QCOMPARE(playerctl({"status"}), rig.desktop.playbackStatus().toUtf8());
}

QTEST_GUILESS_MAIN(MprisTest)
#include "tst_mpris.moc"
