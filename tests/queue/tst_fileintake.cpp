// Files entering the queue from a folder and drops: what is taken, in which
// order, and what is left alone when nothing qualifies.
#include "QueueRig.h"
#include "StdoutCapture.h"

#include "TrackPath.h"

#include <QDir>
#include <QScopeGuard>
#include <QTest>
#include <cstdio>
#include <unistd.h>

class FileIntakeTest : public QObject
{
    Q_OBJECT

private slots:
    void foldersAreListedOneLevelDeep();
    void aDropOfNothingPlayableLeavesEverythingAlone();
    void aFolderThatCannotBeListedSaysWhy();

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
    // A folder named like a track is an entry like any other: the rule sees
    // only names.
    QVERIFY(QDir().mkpath(rig.dir->filePath("album/live.wav")));
    const QUrl album = QUrl::fromLocalFile(rig.dir->filePath("album")); // no trailing slash, as dropped
    rig.intake.openFolderURL(album);
    QCOMPARE(names(rig.queue.fileURLs()), (QStringList{"10 x.mp3", "9 x.mp3", "live.wav"}));

    // A drop mixes the folder's entries with loose files, sorted together; a
    // link dropped with them is no track.
    const QUrl loose = rig.track("c.wav");
    const QUrl web(QStringLiteral("https://example.org/a.flac"));
    QVERIFY(rig.intake.handleDrop({album, loose, web, rig.track("other/b.flac"), loose}));
    QCOMPARE(names(rig.queue.fileURLs()), (QStringList{"10 x.mp3", "9 x.mp3", "b.flac", "c.wav", "c.wav", "live.wav"}));
    QCOMPARE(rig.queue.currentIndex(), 0);

    // Two names that differ only in bytes that are not UTF-8 look alike, yet
    // stay two tracks, each played from its own file.
    const QByteArray old = QFile::encodeName(rig.dir->filePath("old")) + '/';
    const QList<QByteArray> oddNames{"caf\xe8.wav", "caf\xe9.wav"};
    QHash<QByteArray, QByteArray> dataByPath;
    const auto removeNames = qScopeGuard([&] { // QTemporaryDir removes only names a QString can hold
        for (const QByteArray &path : dataByPath.keys())
            ::unlink(path.constData());
    });
    for (const QByteArray &name : oddNames) {
        const QUrl written = rig.track("old/w.wav");
        dataByPath.insert(old + name, rig.dataOf(written));
        QCOMPARE(::rename(QFile::encodeName(written.toLocalFile()).constData(), (old + name).constData()), 0);
    }
    rig.intake.openFolderURL(trackpath::urlOf(old));
    QCOMPARE(names(rig.queue.fileURLs()), QStringList(2, QString::fromUtf8("caf\uFFFD.wav")));
    for (qint64 i = 0; i < 2; ++i) {
        const QByteArray path = trackpath::bytesOf(rig.queue.fileURLs().at(i));
        QVERIFY(dataByPath.contains(path) && trackpath::bytesOf(rig.queue.fileURLs().at(1 - i)) != path);
        rig.transport.playTrack(i, 0.0);
        rig.platform.clearCaptured();
        rig.platform.renderToEnd();
        QCOMPARE(rig.platform.captured(1).left(dataByPath.value(path).size()), dataByPath.value(path));
    }
}

void FileIntakeTest::aDropOfNothingPlayableLeavesEverythingAlone()
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
    QCOMPARE(rig.queue.fileURLs(), tracks);
    QCOMPARE(rig.queue.currentIndex(), 1);
    QVERIFY(rig.player.isPlaying());
    QVERIFY(rig.platform.events().isEmpty());
}

void FileIntakeTest::aFolderThatCannotBeListedSaysWhy()
{
    QueueRig rig;
    const QString path = rig.track("file.wav").toLocalFile();
    StdoutCapture capture;
    rig.intake.openFolderURL(QUrl::fromLocalFile(path));
    const QString out = QString::fromUtf8(capture.text());
    QCOMPARE(out.count('\n'), 1);
    QVERIFY2(out.startsWith(QStringLiteral("Не удалось прочитать папку: ")), qPrintable(out));
    QVERIFY2(out.contains(path) && out.contains("Not a directory"), qPrintable(out));
    QVERIFY(rig.queue.isEmpty());
}

QTEST_GUILESS_MAIN(FileIntakeTest)
#include "tst_fileintake.moc"
