#include "AudioFileRule.h"

#include <algorithm>
#include <string>

namespace audiofilerule {

namespace {
QString extensionOf(const QUrl &url)
{
    const QString name = url.fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot <= 0 ? QString() : name.mid(dot + 1).toLower();
}

// UTF-16 code units order U+E000..U+FFFF after the surrogates of characters
// beyond the BMP, which is not scalar-value order; comparing UCS-4 is.
std::u32string sortKey(const QString &name)
{
    const QList<uint> ucs4 = name.normalized(QString::NormalizationForm_C).toUcs4();
    return std::u32string(ucs4.begin(), ucs4.end());
}
} // namespace

const QSet<QString> &supportedAudioFileExtensionSet()
{
    static const QSet<QString> set{QStringLiteral("wav"), QStringLiteral("aif"),
                                   QStringLiteral("aiff"), QStringLiteral("mp3"),
                                   QStringLiteral("flac")};
    return set;
}

QStringList supportedAudioFileExtensions()
{
    return {QStringLiteral("wav"), QStringLiteral("aif"), QStringLiteral("aiff"),
            QStringLiteral("mp3"), QStringLiteral("flac")};
}

bool isSupportedAudioFile(const QUrl &url)
{
    return supportedAudioFileExtensionSet().contains(extensionOf(url));
}

bool fileNameLess(const QString &a, const QString &b)
{
    return sortKey(a) < sortKey(b);
}

QList<QUrl> apply(const QList<QUrl> &candidates)
{
    struct Entry
    {
        std::u32string key;
        QUrl url;
    };
    std::vector<Entry> kept;
    kept.reserve(std::size_t(candidates.size()));
    for (const QUrl &url : candidates) {
        if (isSupportedAudioFile(url))
            kept.push_back({sortKey(url.fileName()), url});
    }
    std::stable_sort(kept.begin(), kept.end(),
                     [](const Entry &a, const Entry &b) { return a.key < b.key; });
    QList<QUrl> result;
    result.reserve(qsizetype(kept.size()));
    for (Entry &entry : kept)
        result.append(std::move(entry.url));
    return result;
}

} // namespace audiofilerule
