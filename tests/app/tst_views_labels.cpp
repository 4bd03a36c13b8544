// The now-playing panel's texts and the device picker's sample-rate badge.
#include "app/DeviceLabels.h"
#include "queue/NowPlayingLabels.h"

#include <QTest>

#include <limits>

class LabelsTest : public QObject
{
    Q_OBJECT

private slots:
    void formatsTime_data();
    void formatsTime();
    void labelsTrackPosition_data();
    void labelsTrackPosition();
    void titlesCurrentTrack_data();
    void titlesCurrentTrack();
    void labelsSampleRate_data();
    void labelsSampleRate();
};

void LabelsTest::formatsTime_data()
{
    QTest::addColumn<double>("seconds");
    QTest::addColumn<QString>("text");

    constexpr double inf = std::numeric_limits<double>::infinity();
    QTest::newRow("zero") << 0.0 << "00:00";
    QTest::newRow("just under a minute rounds down") << 59.99 << "00:59";
    QTest::newRow("a minute") << 60.0 << "01:00";
    QTest::newRow("no hours field") << 3725.9 << "62:05";
    QTest::newRow("under a second") << 0.4 << "00:00";
    QTest::newRow("negative") << -5.0 << "00:00";
    QTest::newRow("infinite") << inf << "00:00";
    QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << "00:00";
    QTest::newRow("absurdly long stays defined") << 1e300 << "16666666666666:40";
}

void LabelsTest::formatsTime()
{
    QFETCH(double, seconds);
    QFETCH(QString, text);
    QCOMPARE(formatTime(seconds), text);
}

void LabelsTest::labelsTrackPosition_data()
{
    QTest::addColumn<qint64>("index");
    QTest::addColumn<qint64>("count");
    QTest::addColumn<QString>("text");

    QTest::newRow("empty queue") << qint64(0) << qint64(0) << "-- / --";
    QTest::newRow("first of three") << qint64(0) << qint64(3) << "01 / 03";
    QTest::newRow("deep in a long queue") << qint64(104) << qint64(120) << "105 / 120";
}

void LabelsTest::labelsTrackPosition()
{
    QFETCH(qint64, index);
    QFETCH(qint64, count);
    QFETCH(QString, text);
    QCOMPARE(trackPositionLabel(index, count), text);
}

void LabelsTest::titlesCurrentTrack_data()
{
    QTest::addColumn<std::optional<QUrl>>("url");
    QTest::addColumn<QString>("title");

    QTest::newRow("no track") << std::optional<QUrl>() << "No track selected";
    QTest::newRow("extension kept") << std::optional(QUrl::fromLocalFile("/music/a/01 Intro.flac"))
                                    << "01 Intro.flac";
    QTest::newRow("escapes decoded") << std::optional(QUrl(QStringLiteral("file:///m/Caf%C3%A9%20Noir.wav")))
                                     << QStringLiteral("Café Noir.wav");
}

void LabelsTest::titlesCurrentTrack()
{
    QFETCH(std::optional<QUrl>, url);
    QFETCH(QString, title);
    QCOMPARE(currentTrackTitle(url), title);
}

void LabelsTest::labelsSampleRate_data()
{
    QTest::addColumn<double>("rate");
    QTest::addColumn<QString>("text");

    QTest::newRow("no rate yet") << 0.0 << "READY";
    QTest::newRow("negative") << -44100.0 << "READY";
    QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << "READY";
    QTest::newRow("whole kilohertz") << 48000.0 << "48 kHz";
    QTest::newRow("three digits") << 192000.0 << "192 kHz";
    QTest::newRow("one decimal") << 44100.0 << "44.1 kHz";
    QTest::newRow("rounded to one decimal") << 22050.0 << "22.1 kHz";
}

void LabelsTest::labelsSampleRate()
{
    QFETCH(double, rate);
    QFETCH(QString, text);
    QCOMPARE(sampleRateLabel(rate), text);
}

QTEST_APPLESS_MAIN(LabelsTest)
#include "tst_views_labels.moc"
