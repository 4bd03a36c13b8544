// The rule decides what may be queued and in which order; these are the
// orderings a naive string sort or a UTF-16 compare gets wrong.
#include "AudioFileRule.h"

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
} // namespace

class AudioFileRuleTest : public QObject
{
    Q_OBJECT

private slots:
    void filtersAndSorts_data();
    void filtersAndSorts();
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

QTEST_GUILESS_MAIN(AudioFileRuleTest)
#include "tst_audiofilerule.moc"
