// Files entering the queue from folders and drops: what is taken, in which order.
#include "QueueRig.h"
#include "StdoutCapture.h"

#include <QDir>
#include <QTest>

class FileIntakeTest : public QObject
{
    Q_OBJECT

private slots:
    void foldersAreListedOneLevelDeep();
    void nothingPlayableLeavesEverythingAlone();

private:
    static QStringList names(const QList<QUrl> &urls)
    {
        QStringList out;
        for (const QUrl &url : urls)
            out << url.fileName();
        return out;
    }
};

void FileIntakeTest::foldersAreListedOneLevelDeep()
{
    QueueRig rig;
    rig.track("album/10 x.mp3");
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
    QVERIFY(rig.intake.handleDrop({album, loose, web, rig.track("other/b.flac"), loose}));
    QCOMPARE(names(rig.queue.fileURLs()), (QStringList{"10 x.mp3", "9 x.mp3", "b.flac", "c.wav", "c.wav", "live.wav"}));
    QCOMPARE(rig.queue.currentIndex(), 0);
}

// Nothing playable, from a drop or a panel, leaves the queue and the playing
// track alone; a folder that cannot be listed says why, in one line.
void FileIntakeTest::nothingPlayableLeavesEverythingAlone()
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

QTEST_GUILESS_MAIN(FileIntakeTest)
#include "tst_fileintake.moc"
