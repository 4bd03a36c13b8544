#include "TrackTags.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <taglib/aifffile.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/fileref.h>
#include <taglib/tfilestream.h>
#include <taglib/flacfile.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tpropertymap.h>
#include <taglib/wavfile.h>

namespace {

// Larger images are no album cover; they stay where they are.
constexpr qsizetype kMaxCoverBytes = 16 * 1024 * 1024;

QString fromTag(const TagLib::String &s)
{
    return QString::fromStdString(s.to8Bit(true)).trimmed();
}

QByteArray fromBytes(const TagLib::ByteVector &bytes)
{
    return QByteArray(bytes.data(), qsizetype(bytes.size()));
}

// The front cover if there is one, else the first picture at all.
QByteArray pictureIn(const TagLib::ID3v2::Tag *tag)
{
    if (!tag)
        return {};
    QByteArray first;
    for (const TagLib::ID3v2::Frame *frame : tag->frameList("APIC")) {
        const auto *picture = dynamic_cast<const TagLib::ID3v2::AttachedPictureFrame *>(frame);
        if (!picture)
            continue;
        if (picture->type() == TagLib::ID3v2::AttachedPictureFrame::FrontCover)
            return fromBytes(picture->picture());
        if (first.isEmpty())
            first = fromBytes(picture->picture());
    }
    return first;
}

QByteArray pictureIn(TagLib::FLAC::File &file)
{
    QByteArray first;
    for (const TagLib::FLAC::Picture *picture : file.pictureList()) {
        if (picture->type() == TagLib::FLAC::Picture::FrontCover)
            return fromBytes(picture->data());
        if (first.isEmpty())
            first = fromBytes(picture->data());
    }
    return first.isEmpty() && file.hasID3v2Tag() ? pictureIn(file.ID3v2Tag()) : first;
}

QByteArray embeddedPicture(TagLib::File *file)
{
    if (auto *flac = dynamic_cast<TagLib::FLAC::File *>(file))
        return pictureIn(*flac);
    if (auto *mp3 = dynamic_cast<TagLib::MPEG::File *>(file))
        return mp3->hasID3v2Tag() ? pictureIn(mp3->ID3v2Tag()) : QByteArray();
    if (auto *wav = dynamic_cast<TagLib::RIFF::WAV::File *>(file))
        return wav->hasID3v2Tag() ? pictureIn(wav->ID3v2Tag()) : QByteArray();
    if (auto *aiff = dynamic_cast<TagLib::RIFF::AIFF::File *>(file))
        return aiff->hasID3v2Tag() ? pictureIn(aiff->tag()) : QByteArray();
    return {};
}

QByteArray pictureBeside(const QString &path)
{
    const QDir folder = QFileInfo(path).dir();
    for (const char *name : {"cover.jpg", "Cover.jpg", "COVER.JPG", "folder.jpg", "Folder.jpg", "FOLDER.JPG"}) {
        QFile file(folder.filePath(QLatin1String(name)));
        const QFileInfo info(file);
        if (info.isFile() && info.size() <= kMaxCoverBytes && file.open(QIODevice::ReadOnly))
            return file.readAll();
    }
    return {};
}

void readTextTags(TagLib::File &file, TrackTags &tags)
{
    const TagLib::PropertyMap properties = file.properties();
    auto first = [&](const char *key) {
        const auto it = properties.find(key);
        return it == properties.end() || it->second.isEmpty() ? QString() : fromTag(it->second.front());
    };
    tags.title = first("TITLE");
    tags.album = first("ALBUM");
    // "3/12" names track 3 of 12.
    tags.trackNumber = std::max(0, first("TRACKNUMBER").section(QLatin1Char('/'), 0, 0).toInt());
    if (const auto it = properties.find("ARTIST"); it != properties.end()) {
        for (const TagLib::String &artist : it->second) {
            if (const QString name = fromTag(artist); !name.isEmpty())
                tags.artists << name;
        }
    }
}

} // namespace

namespace tracktags {

TrackTags read(const QString &path, const QString &coverFolder)
{
    TrackTags tags;
    // A FIFO or device named like a track would block the reader forever.
    if (!QFileInfo(path).isFile())
        return tags;
    QByteArray picture;
    try {
        // Read-only: tags are never written back to the user's music.
        TagLib::FileStream stream(QFile::encodeName(path).constData(), true);
        TagLib::FileRef ref(&stream, true, TagLib::AudioProperties::Fast);
        if (stream.isOpen() && !ref.isNull()) {
            readTextTags(*ref.file(), tags);
            if (const TagLib::AudioProperties *audio = ref.audioProperties())
                tags.lengthMicroseconds = qint64(std::max(0, audio->lengthInMilliseconds())) * 1000;
            picture = embeddedPicture(ref.file());
        }
    } catch (...) {
        // A tag block TagLib chokes on counts as none.
        tags = {};
    }
    if (picture.isEmpty() || picture.size() > kMaxCoverBytes)
        picture = pictureBeside(path);
    tags.coverURL = storeCover(picture, coverFolder);
    return tags;
}

QUrl storeCover(const QByteArray &image, const QString &coverFolder)
{
    QString extension;
    if (image.startsWith("\xFF\xD8\xFF"))
        extension = QStringLiteral(".jpg");
    else if (image.startsWith("\x89PNG\r\n\x1A\n"))
        extension = QStringLiteral(".png");
    if (extension.isEmpty() || coverFolder.isEmpty() || !QDir().mkpath(coverFolder))
        return {};
    // Named by content: every track of an album shares one copy, written once.
    const QString hash = QString::fromLatin1(QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex());
    const QString target = QDir(coverFolder).filePath(hash + extension);
    if (!QFileInfo(target).isFile()) {
        QSaveFile file(target);
        if (!file.open(QIODevice::WriteOnly) || file.write(image) != image.size() || !file.commit())
            return {};
    }
    return QUrl::fromLocalFile(target);
}

} // namespace tracktags
