#include "SoundFile.h"

#include "SoundFileOpen.h"

#include <QFileInfo>

namespace {

// libsndfile reports a missing file and an unknown format alike, so the plain
// causes are told apart before it is asked.
QString reasonBeforeOpening(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("the file does not exist");
    if (info.isDir())
        return QStringLiteral("it is a folder, not an audio file");
    if (!info.isReadable())
        return QStringLiteral("the file cannot be read (permission denied)");
    if (info.size() == 0)
        return QStringLiteral("the file is empty");
    return {};
}

} // namespace

SoundFile SoundFile::open(const QString &path, QString *reason)
{
    SoundFile file;
    if (const QString early = reasonBeforeOpening(path); !early.isEmpty()) {
        *reason = early;
        return file;
    }
    QString libraryReason;
    file.m_file.reset(openSoundFile(path, &file.m_info, &libraryReason));
    if (!file.m_file) {
        *reason = QStringLiteral("it is not a readable WAV, AIFF, FLAC or MP3 file (%1)").arg(libraryReason);
    } else if (file.m_info.channels <= 0) {
        *reason = QStringLiteral("it declares no audio channels");
        file.m_file.reset();
    }
    return file;
}

sf_count_t SoundFile::readFrames(float *buffer, sf_count_t frames)
{
    return std::max<sf_count_t>(sf_readf_float(m_file.get(), buffer, frames), 0);
}

QString SoundFile::readError() const
{
    if (sf_error(m_file.get()) == SF_ERR_NO_ERROR)
        return {};
    return QStringLiteral("decoding failed (%1)").arg(QString::fromUtf8(sf_strerror(m_file.get())));
}
