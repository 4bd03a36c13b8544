// Files entering the queue from the dialogs, a folder and drops: what is
// taken, in which order, and what is left alone when nothing qualifies.
#include "QueueRig.h"
#include "StdoutCapture.h"

#include <QDir>
#include <QTest>

class FileIntakeTest : public QObject
{
    Q_OBJECT

private slots:
    void chosenFilesPassTheRule();
    void aFolderIsListedOneLevelDeep();
    void aDropMixesFolderEntriesWithLooseFiles();
    void aDropOfNothingPlayableLeavesEverythingAlone();
    void aFolderThatCannotBeListedSaysWhy_data();
    void aFolderThatCannotBeListedSaysWhy();
    void aNewQueueReplacesTheOldOneAndPrefetchesFive();

private:
    static QStringList names(const QList<QUrl> &urls)
    {
        QStringList out;
        for (const QUrl &url : urls)
            out << url.fileName();
        return out;
    }
};

void FileIntakeTest::chosenFilesPassTheRule()
{
    QueueRig rig;
    const QUrl b = rig.track("b.WAV"), a = rig.track("a.flac"), c = rig.track("c.txt");
    rig.intake.openFileURLs({b, a, c});
    QCOMPARE(names(rig.queue.fileURLs()), (QStringList{"a.flac", "b.WAV"}));
    QCOMPARE(rig.player.currentURL(), a);
}

void FileIntakeTest::aFolderIsListedOneLevelDeep()
{
    QueueRig rig;
    rig.track("album/10 x.mp3");
    rig.track("album/9 x.mp3");
    rig.track("album/.hidden.wav");
    rig.track("album/inner/deep.wav");
    // A folder named like a track is an entry like any other: the rule sees
    // only names.
    QVERIFY(QDir().mkpath(rig.dir->filePath("album/live.wav")));
    rig.intake.openFolderURL(QUrl::fromLocalFile(rig.dir->filePath("album")));
    QCOMPARE(names(rig.queue.fileURLs()), (QStringList{"10 x.mp3", "9 x.mp3", "live.wav"}));
    QCOMPARE(rig.queue.currentIndex(), 0);
}

void FileIntakeTest::aDropMixesFolderEntriesWithLooseFiles()
{
    QueueRig rig;
    rig.track("dropped/b.wav");
    rig.track("dropped/d.aiff");
    rig.track("dropped/notes.txt");
    const QUrl loose = rig.track("c.wav");
    const QUrl first = rig.track("other/a.flac");
    const QUrl folder = QUrl::fromLocalFile(rig.dir->filePath("dropped")); // no trailing slash
    QVERIFY(rig.intake.handleDrop({folder, loose, first, loose}));
    QCOMPARE(names(rig.queue.fileURLs()), (QStringList{"a.flac", "b.wav", "c.wav", "c.wav", "d.aiff"}));
}

void FileIntakeTest::aDropOfNothingPlayableLeavesEverythingAlone()
{
    QueueRig rig;
    const QList<QUrl> tracks{rig.track("1.wav"), rig.track("2.wav")};
    rig.intake.loadPlaylist(tracks);
    rig.transport.playTrack(1, 0.5);
    rig.platform.clearEvents();

    QVERIFY(rig.intake.handleDrop({rig.track("a.txt"), QUrl(), QUrl::fromLocalFile("/nonexistent/dir/")}));
    rig.intake.openFileURLs({});
    rig.intake.openFolderURL(QUrl::fromLocalFile(rig.dir->filePath("empty-" "missing")));
    QCOMPARE(rig.queue.fileURLs(), tracks);
    QCOMPARE(rig.queue.currentIndex(), 1);
    QVERIFY(rig.player.isPlaying());
    QVERIFY(rig.platform.events().isEmpty());
}

void FileIntakeTest::aFolderThatCannotBeListedSaysWhy_data()
{
    QTest::addColumn<QString>("relativePath");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing") << "nowhere" << "No such file or directory";
    QTest::newRow("a file, not a folder") << "file.wav" << "Not a directory";
}

void FileIntakeTest::aFolderThatCannotBeListedSaysWhy()
{
    QFETCH(QString, relativePath);
    QFETCH(QString, reason);
    QueueRig rig;
    rig.track("file.wav");
    const QString path = rig.dir->filePath(relativePath);
    StdoutCapture capture;
    rig.intake.openFolderURL(QUrl::fromLocalFile(path));
    const QString out = QString::fromUtf8(capture.text());
    QCOMPARE(out.count('\n'), 1);
    QVERIFY2(out.startsWith(QStringLiteral("Не удалось прочитать папку: ")), qPrintable(out));
    QVERIFY2(out.contains(path) && out.contains(reason), qPrintable(out));
    QVERIFY(rig.queue.isEmpty());

    // The same failure in a drop is silent.
    StdoutCapture quiet;
    rig.intake.handleDrop({QUrl::fromLocalFile(path + "/")});
    QVERIFY(quiet.text().isEmpty());
}

void FileIntakeTest::aNewQueueReplacesTheOldOneAndPrefetchesFive()
{
    QueueRig rig;
    QList<QUrl> first;
    for (int i = 0; i < 3; ++i)
        first << rig.track(QStringLiteral("old%1.wav").arg(i));
    rig.intake.loadPlaylist(first);
    rig.transport.playTrack(2, 0.5);
    QTRY_VERIFY(rig.waveforms.hasWaveform(first.at(2)));

    QList<QUrl> second;
    for (int i = 0; i < 7; ++i)
        second << rig.track(QStringLiteral("new%1.wav").arg(i));
    rig.intake.loadPlaylist(second);
    QCOMPARE(rig.queue.fileURLs(), second);
    QCOMPARE(rig.queue.currentIndex(), 0);
    QCOMPARE(rig.player.currentURL(), second.at(0));
    QCOMPARE(rig.transport.playbackProgress(), 0.0);
    QVERIFY(!rig.waveforms.hasWaveform(first.at(2)));
    for (int i = 0; i < 7; ++i) {
        const bool requested = rig.waveforms.isLoading(second.at(i)) || rig.waveforms.hasWaveform(second.at(i));
        QCOMPARE(requested, i < 5);
    }
}

QTEST_GUILESS_MAIN(FileIntakeTest)
#include "tst_fileintake.moc"
