#include "TrackPath.h"

namespace trackpath {

QUrl urlOf(const QByteArray &bytes)
{
    // A UTF-8 name gets the very URL an open dialog gives for it, so that
    // the same file reached both ways is one track.
    if (QByteArrayView(bytes).isValidUtf8())
        return QUrl::fromLocalFile(QString::fromUtf8(bytes));
    // Delimiters QUrl keeps as they are stay unencoded, for the same reason.
    return QUrl::fromEncoded("file://" + bytes.toPercentEncoding("/!$&'()*+,;=:@~[]"), QUrl::StrictMode);
}

QByteArray bytesOf(const QUrl &url)
{
    if (!url.isLocalFile())
        return {};
    // Fully encoded, the path is ASCII: valid UTF-8 as %XX of its bytes, and
    // invalid bytes as the %XX they arrived as.
    return QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
}

QString displayPath(const QByteArray &bytes)
{
    return QString::fromUtf8(bytes);
}

} // namespace trackpath
