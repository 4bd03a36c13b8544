#include "AudioFileRule.h"

#include "NameOrder.h"

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

bool isSupportedAudioFileName(std::string_view name)
{
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0)
        return false;
    const std::string_view extension = name.substr(dot + 1);
    if (extension.size() > 4)
        return false;
    char lower[5] = {};
    for (std::size_t i = 0; i < extension.size(); ++i)
        lower[i] = char(extension[i] >= 'A' && extension[i] <= 'Z' ? extension[i] + 32 : extension[i]);
    return supportedAudioFileExtensionSet().contains(QLatin1String(lower));
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
            kept.push_back({nameorder::sortKey(url.fileName()), url});
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
