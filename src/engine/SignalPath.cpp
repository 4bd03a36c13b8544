#include "SignalPath.h"

namespace {

QString kindWord(sampleformats::PathKind kind)
{
    switch (kind) {
    case sampleformats::PathKind::BitPerfect: return QStringLiteral("bit-perfect");
    case sampleformats::PathKind::Lossless: return QStringLiteral("lossless");
    case sampleformats::PathKind::Rounded: return QStringLiteral("rounded");
    }
    return {};
}

} // namespace

QString SignalPath::kindName() const
{
    return isValid() ? kindWord(m_kind) : QString();
}

void SignalPath::set(const StreamFormat &track, const StreamFormat &device,
                     const AcceptedSettings &accepted)
{
    const sampleformats::PathKind kind = sampleformats::pathKind(track, device);
    if (kind == m_kind && accepted == m_accepted)
        return;
    m_kind = kind;
    m_accepted = accepted;
    emit changed();
}

void SignalPath::clear()
{
    if (!isValid())
        return;
    m_accepted = {};
    emit changed();
}

QString SignalPath::labelFor(sampleformats::PathKind kind, const AcceptedSettings &accepted)
{
    if (accepted.format.isEmpty())
        return {};
    QString word = kindWord(kind);
    word[0] = word[0].toUpper();
    QString label = QStringLiteral("%1 · %2 · %3 Hz · %4 ch")
                        .arg(word, accepted.format)
                        .arg(accepted.rate)
                        .arg(accepted.channels);
    if (accepted.fromKernel)
        label += QStringLiteral(" · kernel");
    return label;
}
