#pragma once

#include <QString>

// Ten-minute test tracks written chunk by chunk, so that making them does not
// itself need gigabytes: a tone under noise, which compresses like music
// rather than like silence.
struct BenchTrack
{
    QString name;
    int format;     // libsndfile major | subtype
    int sampleRate;
    double mp3Kbps; // 0 unless MP3
};

// Writes `track` of `seconds` into `path`; returns false with a reason.
bool writeBenchTrack(const QString &path, const BenchTrack &track, int seconds, QString *error);
