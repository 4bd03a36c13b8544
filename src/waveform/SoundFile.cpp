#include "SoundFile.h"

namespace {

QString describe(const FileRefusal &refusal)
{
    switch (refusal.kind) {
    case FileRefusal::Missing: return QStringLiteral("the file does not exist");
    case FileRefusal::Folder: return QStringLiteral("it is a folder, not an audio file");
    case FileRefusal::PermissionDenied: return QStringLiteral("the file cannot be read (permission denied)");
    case FileRefusal::NotRegularFile: return QStringLiteral("it is not a regular file");
    case FileRefusal::Empty: return QStringLiteral("the file is empty");
    case FileRefusal::Unreadable: return QStringLiteral("the file cannot be read");
    case FileRefusal::NotOfItsKind: case FileRefusal::Damaged: case FileRefusal::NotPlayable: break;
    }
    return QStringLiteral("it is not a readable WAV, AIFF, FLAC or MP3 file (%1)").arg(refusal.detail);
}

} // namespace

SoundFile SoundFile::open(const QByteArray &path, QString *reason)
{
    SoundFile file;
    auto opened = CheckedAudioFile::open(path);
    if (auto *checked = std::get_if<CheckedAudioFile>(&opened))
        file.m_file.emplace(std::move(*checked));
    else
        *reason = describe(std::get<FileRefusal>(opened));
    return file;
}

sf_count_t SoundFile::readFrames(float *buffer, sf_count_t frames)
{
    return std::max<sf_count_t>(sf_readf_float(m_file->get(), buffer, frames), 0);
}

QString SoundFile::readError() const
{
    if (sf_error(m_file->get()) == SF_ERR_NO_ERROR)
        return {};
    return QStringLiteral("decoding failed (%1)").arg(QString::fromUtf8(sf_strerror(m_file->get())));
}
