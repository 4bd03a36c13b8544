#pragma once

#include <QDir>
#include <QFile>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <unistd.h>

// A fuzz input is a file: its first byte picks the name's extension (and so
// the family the content must match), the rest is the content.
inline const char *const kFuzzExtensions[] = {".wav", ".aiff", ".flac", ".mp3", ".aif", ""};

inline QString writeFuzzInput(const std::uint8_t *data, std::size_t size)
{
    static const QString kDir = [] {
        const QString shm = QStringLiteral("/dev/shm");
        return QDir(QFileInfo(shm).isWritable() ? shm : QDir::tempPath())
            .filePath(QStringLiteral("quorvel-fuzz-%1").arg(getpid()));
    }();
    const QString path = kDir + QString::fromLatin1(kFuzzExtensions[size > 0 ? data[0] % std::size(kFuzzExtensions) : 0]);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate) && size > 1)
        file.write(reinterpret_cast<const char *>(data + 1), qint64(size - 1));
    return path;
}

// The byte that gives `fileName` its extension back in writeFuzzInput.
inline char fuzzSelectorFor(const QString &fileName)
{
    const std::size_t last = std::size(kFuzzExtensions) - 1; // the one without an extension
    for (std::size_t i = 0; i < last; ++i) {
        if (fileName.endsWith(QLatin1String(kFuzzExtensions[i])))
            return char(i);
    }
    return char(last);
}
