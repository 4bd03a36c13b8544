// What may be queued and in which order: the rule on names (the orderings a
// naive string sort or a UTF-16 compare gets wrong), and the files the intake
// takes from folders and drops.
#include "AudioFileRule.h"
#include "QueueRig.h"
#include "StdoutCapture.h"

#include <QDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {
QList<QUrl> urls(const QStringList &paths)
{
    QList<QUrl> out;
    for (const QString &p : paths)
        out.append(QUrl::fromLocalFile(p));
    return out;
}

QStringList names(const QList<QUrl> &urls)
{
    QStringList out;
    for (const QUrl &url : urls)
        out << url.fileName();
    return out;
}
} // namespace

class AudioFileRuleTest : public QObject
{
    Q_OBJECT

private slots:
    void filtersAndSorts_data();
    void filtersAndSorts();
    void foldersAreListedOneLevelDeep();
    void nothingPlayableLeavesEverythingAlone();
    void aFillingQueueLeavesItsFirstTrackToTheLoad();
};

void AudioFileRuleTest::filtersAndSorts_data()
{
    QTest::addColumn<QStringList>("candidates");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("five kinds in any case, others dropped")
        << QStringList{"/m/e.Mp3", "/m/d.AIF", "/m/c.aiff", "/m/f.txt", "/m/b.FLAC", "/m/a.wav"}
        << QStringList{"/m/a.wav", "/m/b.FLAC", "/m/c.aiff", "/m/d.AIF", "/m/e.Mp3"};
    QTest::newRow("no numeric ordering")
        << QStringList{"/m/9 x.mp3", "/m/10 x.mp3"} << QStringList{"/m/10 x.mp3", "/m/9 x.mp3"};
    QTest::newRow("upper case before lower case")
        << QStringList{"/m/apple.wav", "/m/Zebra.wav"} << QStringList{"/m/Zebra.wav", "/m/apple.wav"};
    QTest::newRow("no extension, other extensions, hidden-only name")
        << QStringList{"/m/README", "/m/a.m4a", "/m/b.ogg", "/m/.wav", "/m/x.", "/m/ok.wav"}
        << QStringList{"/m/ok.wav"};
    // U+FF21 (fullwidth A) is below U+1F3B5 as a scalar value, but above its
    // leading surrogate 0xD83C as a UTF-16 code unit.
    QTest::newRow("beyond the BMP by scalar value")
        << QStringList{u"/m/\U0001F3B5.wav"_s, u"/m/\uFF21.wav"_s}
        << QStringList{u"/m/\uFF21.wav"_s, u"/m/\U0001F3B5.wav"_s};
    // The decomposed e + combining acute composes to U+00E9, which sorts after
    // "f"; uncomposed it would sort between "e" and "f".
    QTest::newRow("decomposed accents compare composed")
        << QStringList{u"/m/f.wav"_s, u"/m/e\u0301.wav"_s, u"/m/e.wav"_s}
        << QStringList{u"/m/e.wav"_s, u"/m/f.wav"_s, u"/m/e\u0301.wav"_s};
    // Equal names, from two folders or composed and decomposed: the earlier
    // candidate stays first.
    QTest::newRow("equal names keep their order")
        << QStringList{u"/b/t.wav"_s, u"/z/\u00E9.wav"_s, u"/a/t.wav"_s, u"/y/e\u0301.wav"_s}
        << QStringList{u"/b/t.wav"_s, u"/a/t.wav"_s, u"/z/\u00E9.wav"_s, u"/y/e\u0301.wav"_s};
}

void AudioFileRuleTest::filtersAndSorts()
{
    QFETCH(QStringList, candidates);
    QFETCH(QStringList, expected);
    QCOMPARE(audiofilerule::apply(urls(candidates)), urls(expected));
    // Folders are filtered on raw names before any URL exists; both must agree.
    for (const QUrl &url : urls(candidates)) {
        const QByteArray name = url.fileName().toUtf8();
        QCOMPARE(audiofilerule::isSupportedAudioFileName(std::string_view(name.constData(), name.size())),
                 audiofilerule::isSupportedAudioFile(url));
    }
}

void AudioFileRuleTest::foldersAreListedOneLevelDeep()
{
    QueueRig rig;
    testaudio::writeTrack(rig.dir->filePath("album/10 x.mp3"),
                          {.format = SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, .frames = 11025});
    rig.track("album/9 x.mp3");
    rig.track("album/.hidden.wav");
    rig.track("album/notes.txt");
    rig.track("album/inner/deep.wav");
    // A folder named like a track is an entry like any other: the rule sees only names.
    QVERIFY(QDir().mkpath(rig.dir->filePath("album/live.wav")));
    const QUrl album = QUrl::fromLocalFile(rig.dir->filePath("album")); // no trailing slash, as dropped
    rig.intake.openFolderURL(album);
    QCOMPARE(names(rig.queue.fileURLs()), (QStringList{"10 x.mp3", "9 x.mp3", "live.wav"}));

    // A drop sorts the folder's entries and loose files together; a link is no track.
    const QUrl loose = rig.track("c.wav");
    const QUrl web(QStringLiteral("https://example.org/a.flac"));
    const QList<QUrl> dropped{album, loose, web, rig.track("other/b.flac"), loose};
    const QStringList taken{"10 x.mp3", "9 x.mp3", "b.flac", "c.wav", "c.wav", "live.wav"};
    QVERIFY(rig.intake.handleDrop(dropped));
    QCOMPARE(names(rig.queue.fileURLs()), taken);
    QCOMPARE(rig.queue.currentIndex(), 0);

    // Named at launch, they are taken in alike once the window shows; until
    // then nothing is queued and no device is touched. The first track, read
    // meanwhile, is the one that plays: filling the queue keeps that read.
    QueueRig launch;
    launch.platform.clearEvents();
    launch.intake.prepareLaunch(dropped);
    QVERIFY(launch.queue.fileURLs().isEmpty());
    QVERIFY(launch.platform.events().isEmpty());
    launch.intake.takeLaunch();
    launch.intake.takeLaunch(); // once only
    QCOMPARE(names(launch.queue.fileURLs()), taken);
    const QUrl first = launch.queue.fileURLs().first();
    QCOMPARE(launch.player.currentURL(), first);
    QVERIFY(launch.player.isPlaying());
    QCOMPARE(launch.loads.timesLoaded(first), 1);
}

// Nothing playable, from a drop or a panel, leaves the queue and the playing
// track alone; a folder that cannot be listed says why, in one line.
void AudioFileRuleTest::nothingPlayableLeavesEverythingAlone()
{
    QueueRig rig;
    const QList<QUrl> tracks{rig.track("1.wav"), rig.track("2.wav")};
    rig.intake.loadPlaylist(tracks);
    rig.transport.playTrack(1, 0.5);
    rig.platform.clearEvents();

    QVERIFY(rig.intake.handleDrop({rig.track("a.txt"), QUrl(), QUrl::fromLocalFile("/nonexistent/dir/"),
                                   QUrl(QStringLiteral("https://example.org/a.flac"))}));
    rig.intake.openFileURLs({});
    rig.intake.openFolderURL(QUrl::fromLocalFile(rig.dir->filePath("missing")));
    const QString file = tracks[0].toLocalFile();
    StdoutCapture capture;
    rig.intake.openFolderURL(tracks[0]);
    const QString out = QString::fromUtf8(capture.text());
    QCOMPARE(out.count('\n'), 1);
    QVERIFY2(out.startsWith(QStringLiteral("Не удалось прочитать папку: ")), qPrintable(out));
    QVERIFY2(out.contains(file) && out.contains("Not a directory"), qPrintable(out));
    QCOMPARE(rig.queue.fileURLs(), tracks);
    QCOMPARE(rig.queue.currentIndex(), 1);
    QVERIFY(rig.player.isPlaying());
    QVERIFY(rig.platform.events().isEmpty());
}

// A view shows the rows of a new queue as it fills, and they ask for their
// waveforms before the first track's load has begun: no worker may take one
// meanwhile (a free worker takes it at once), or it would decode that track
// beside its load.
void AudioFileRuleTest::aFillingQueueLeavesItsFirstTrackToTheLoad()
{
    QueueRig rig(LoadMode::Background);
    const QList<QUrl> tracks{rig.track("1.wav", 44100), rig.track("2.wav")};
    bool takenWhileFilling = false;
    QObject::connect(&rig.queue, &PlayQueue::fileURLsChanged, [&] {
        for (const QUrl &url : rig.queue.fileURLs())
            rig.waveforms.rowShown(url);
        takenWhileFilling = QTest::qWaitFor([&] { return rig.waveforms.queuedURLs().size() < 2; }, 200);
    });
    rig.intake.loadPlaylist(tracks);
    QVERIFY(!takenWhileFilling);
    QTRY_VERIFY(rig.waveforms.hasWaveform(tracks[0]) && rig.waveforms.hasWaveform(tracks[1]));
}

QTEST_GUILESS_MAIN(AudioFileRuleTest)
#include "tst_audiofilerule.moc"
