// The player as the desktop's media controls see it, on a private session
// bus, through the clients a desktop uses: playerctl for what media keys and
// the shell's player do, busctl for the exact types on the wire. Tags and
// covers are written by TagLib itself into tracks of every format.
#include "DesktopPlayer.h"
#include "MprisService.h"
#include "PrivateSessionBus.h"
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

TagLib::ID3v2::AttachedPictureFrame *apic(const QByteArray &image)
{
    auto *frame = new TagLib::ID3v2::AttachedPictureFrame;
    frame->setMimeType("image/jpeg");
    frame->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
    frame->setPicture(TagLib::ByteVector(image.constData(), uint(image.size())));
    return frame;
}

void embedCover(TagLib::File *file)
{
    if (auto *flac = dynamic_cast<TagLib::FLAC::File *>(file)) {
        auto *picture = new TagLib::FLAC::Picture;
        picture->setType(TagLib::FLAC::Picture::FrontCover);
        picture->setMimeType("image/jpeg");
        picture->setData(TagLib::ByteVector(kCover.constData(), uint(kCover.size())));
        flac->addPicture(picture);
    } else if (auto *mp3 = dynamic_cast<TagLib::MPEG::File *>(file)) {
        mp3->ID3v2Tag(true)->addFrame(apic(kCover));
    } else if (auto *wav = dynamic_cast<TagLib::RIFF::WAV::File *>(file)) {
        wav->ID3v2Tag()->addFrame(apic(kCover));
    } else if (auto *aiff = dynamic_cast<TagLib::RIFF::AIFF::File *>(file)) {
        aiff->tag()->addFrame(apic(kCover));
    }
}

void writeTags(const QString &path, const QString &title, const QStringList &artists, Cover cover)
{
    TagLib::FileRef ref(QFile::encodeName(path).constData());
    QVERIFY(!ref.isNull());
    TagLib::PropertyMap properties;
    if (!title.isEmpty())
        properties.insert("TITLE", TagLib::String(title.toStdString(), TagLib::String::UTF8));
    TagLib::StringList names;
    for (const QString &artist : artists)
        names.append(TagLib::String(artist.toStdString(), TagLib::String::UTF8));
    if (!names.isEmpty())
        properties.insert("ARTIST", names);
    properties.insert("ALBUM", TagLib::String("Sketches"));
    properties.insert("TRACKNUMBER", TagLib::String("7/9"));
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

QJsonObject getAll(const QString &interface)
{
    return busctl({"org.freedesktop.DBus.Properties", "GetAll", "s", interface})["data"][0].toObject();
}

} // namespace

// The queue's rig with the desktop's player on the bus.
struct DesktopRig : QueueRig
{
    DesktopRig()
    {
        published = service.publish(QDBusConnection::sessionBus());
    }
    TagReader tags{dir->filePath("cache/covers")};
    DesktopPlayer desktop{queue, transport, player, intake, tags};
    MprisService service{desktop, QStringLiteral("quorvel-player")};
    bool published = false;
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
    void positionMovesTheFrameTheDeviceReceives_data();
    void positionMovesTheFrameTheDeviceReceives();

public slots:
    void propertiesChanged(const QString &interface, const QVariantMap &changed, const QStringList &);
    void seeked(qlonglong position) { m_seeks << position; }

private:
    QString heard(int *repeats = nullptr) const;

    PrivateSessionBus m_bus;
    QList<QVariantMap> m_announcements;
    QList<qlonglong> m_seeks;
};

void MprisTest::initTestCase()
{
    QVERIFY2(m_bus.start(), "dbus-daemon is missing (scripts/install-deps --test)");
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

    const QJsonObject all = getAll("org.mpris.MediaPlayer2.Player");
    const QJsonObject metadata = all["Metadata"]["data"].toObject();
    QCOMPARE(metadata["mpris:trackid"]["type"].toString(), "o");
    QVERIFY(!metadata["mpris:trackid"]["data"].toString().startsWith("/org/mpris"));
    QCOMPARE(metadata["mpris:length"]["type"].toString(), "x");
    QCOMPARE(metadata["mpris:length"]["data"].toInteger(), qint64(rig.player.duration() * 1e6 + 0.5));
    QCOMPARE(metadata["xesam:url"]["data"].toString(), QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded));
    const QJsonValue artUrl = metadata["mpris:artUrl"]["data"];
    QCOMPARE(artUrl.isUndefined(), damaged || cover == Cover::None);
    if (!artUrl.isUndefined())
        QCOMPARE(testfiles::readAll(QUrl(artUrl.toString()).toLocalFile()), kCover);
    if (!damaged) {
        QCOMPARE(metadata["xesam:artist"]["type"].toString(), "as");
        QCOMPARE(metadata["xesam:artist"]["data"].toVariant().toStringList(), artists);
        QCOMPARE(metadata["xesam:album"]["data"].toString(), "Sketches");
        QCOMPARE(metadata["xesam:trackNumber"]["type"].toString(), "i");
        QCOMPARE(metadata["xesam:trackNumber"]["data"].toInt(), 7);
    }
    const QHash<QString, QString> types{{"PlaybackStatus", "s"}, {"Position", "x"},  {"Rate", "d"},
                                        {"MinimumRate", "d"},    {"MaximumRate", "d"}, {"Volume", "d"},
                                        {"CanGoNext", "b"},      {"CanPlay", "b"},     {"CanControl", "b"}};
    for (auto it = types.cbegin(); it != types.cend(); ++it)
        QCOMPARE(all[it.key()]["type"].toString(), it.value());
    QCOMPARE(all["PlaybackStatus"]["data"].toString(), "Playing");
    if (damaged) // what the desktop is shown of it is all the player's own
        return;
    const QJsonObject root = getAll("org.mpris.MediaPlayer2");
    QCOMPARE(root["Identity"]["data"].toString(), "QuorvelPlayer");
    QCOMPARE(root["DesktopEntry"]["data"].toString(), "quorvel-player");
    QVERIFY(root["SupportedMimeTypes"]["data"].toVariant().toStringList().contains("audio/flac"));
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

// Each step: a playerctl command (or "end": the track plays out), then the
// status, the current row and CanGoNext that follow, as the desktop hears.
void MprisTest::commandsFollowTheTransportRules_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::newRow("pause, play, stop, play")
        << QStringList{"pause Paused 0 1", "play Playing 0 1", "play-pause Paused 0 1",
                       "play-pause Playing 0 1", "stop Stopped 0 1", "play Playing 0 1"};
    QTest::newRow("next stops at the last track")
        << QStringList{"next Playing 1 1", "next Playing 2 0", "next Playing 2 0"};
    QTest::newRow("previous early goes back, on the first track restarts")
        << QStringList{"next Playing 1 1", "previous Playing 0 1", "previous Playing 0 1"};
    QTest::newRow("the end of the queue stops")
        << QStringList{"next Playing 1 1", "next Playing 2 0", "end Stopped 2 0"};
    QTest::newRow("open replaces the queue") << QStringList{"open Playing 0 0"};
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
        const QStringList s = step.split(' ');
        if (s[0] == "end")
            rig.platform.renderToEnd();
        else
            playerctl(s[0] == "open" ? QStringList{"open", single.toString()} : QStringList{s[0]});
        QTRY_COMPARE(rig.desktop.playbackStatus(), s[1]);
        QCOMPARE(rig.queue.currentIndex(), s[2].toInt());
        // What the desktop heard matches, each change once.
        QTRY_COMPARE(heard(), s[1] + ' ' + s[3]);
    }
    int repeats = 0;
    heard(&repeats);
    QCOMPARE(repeats, 0);
    QCOMPARE(playerctl({"status"}), rig.desktop.playbackStatus().toUtf8());
}

void MprisTest::positionMovesTheFrameTheDeviceReceives_data()
{
    QTest::addColumn<QStringList>("command");
    QTest::addColumn<qint64>("index");
    QTest::addColumn<qint64>("frame");
    QTest::addColumn<qint64>("seeked"); // -1: none
    QTest::newRow("to a position") << QStringList{"playerctl", "position", "0.05"} << 0LL << 2205LL << 50000LL;
    QTest::newRow("by an offset") << QStringList{"playerctl", "position", "0.05+"} << 0LL << 2205LL << 50000LL;
    QTest::newRow("past the end: the next track") << QStringList{"playerctl", "position", "5+"} << 1LL << 0LL << -1LL;
    QTest::newRow("for a track of an older queue")
        << QStringList{"busctl", "SetPosition", "ox", "/org/quorvel/QuorvelPlayer/track/q0_0", "50000"} << 0LL << 0LL
        << -1LL;
}

void MprisTest::positionMovesTheFrameTheDeviceReceives()
{
    QFETCH(QStringList, command);
    QFETCH(qint64, index);
    QFETCH(qint64, frame);
    QFETCH(qint64, seeked);
    DesktopRig rig;
    QVERIFY(rig.published);
    rig.intake.loadPlaylist(rig.threeTracks());
    m_seeks.clear();
    if (command.takeFirst() == "playerctl")
        playerctl(command);
    else
        busctl(QStringList{"org.mpris.MediaPlayer2.Player"} + command);
    QTRY_COMPARE(rig.queue.currentIndex(), index);
    QTRY_COMPARE(rig.player.currentFrame(), frame);
    rig.platform.clearCaptured();
    rig.platform.renderStep(512);
    QCOMPARE(rig.platform.captured(1), rig.dataOf(rig.queue.currentTrackURL()).mid(frame * 4, 512 * 4));
    if (seeked >= 0)
        QTRY_COMPARE(m_seeks, QList<qlonglong>{seeked});
    QCOMPARE(m_seeks.size(), seeked >= 0 ? 1 : 0);
}

QTEST_GUILESS_MAIN(MprisTest)
#include "tst_mpris.moc"
