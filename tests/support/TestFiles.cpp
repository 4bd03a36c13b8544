#include "TestFiles.h"

#include <QFile>

namespace testfiles {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

bool setFlacTotalFrames(const QString &path, quint64 total)
{
    // "fLaC", then STREAMINFO's block header (type 0 in the low bits of its
    // first byte) and 10 bytes of block and frame sizes; bytes 18..25 hold
    // rate, channels, bits and, in their low 36 bits, the sample count.
    constexpr int kWordAt = 18;
    constexpr quint64 kCountMask = (quint64(1) << 36) - 1;
    QByteArray bytes = readAll(path);
    if (bytes.size() < kWordAt + 8 || !bytes.startsWith("fLaC") || (bytes[4] & 0x7f) != 0)
        return false;
    quint64 word = 0;
    for (int i = 0; i < 8; ++i)
        word = word << 8 | quint8(bytes[kWordAt + i]);
    word = (word & ~kCountMask) | (total & kCountMask);
    for (int i = 7; i >= 0; --i, word >>= 8)
        bytes[kWordAt + i] = char(word & 0xff);
    return writeAll(path, bytes);
}

} // namespace testfiles
