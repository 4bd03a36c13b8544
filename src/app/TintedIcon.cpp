#include "TintedIcon.h"

#include <QImage>
#include <QPainter>
#include <QQuickWindow>

TintedIcon::TintedIcon(QQuickItem *parent)
    : VectorImage(parent)
{
}

void TintedIcon::setName(const QString &name)
{
    if (m_name == name)
        return;
    m_name = name;
    setSource(name.isEmpty() ? QUrl() : iconUrl(name));
    emit nameChanged();
}

void TintedIcon::setColor(const QColor &color)
{
    if (m_color == color)
        return;
    m_color = color;
    update();
    emit colorChanged();
}

qreal TintedIcon::opticalOffset(const QString &name)
{
    return name == QLatin1String("play-fill") ? 1 : 0;
}

QUrl TintedIcon::iconUrl(const QString &name)
{
    return QUrl(QStringLiteral("qrc:/Quorvel/icons/%1.svg").arg(name));
}

void TintedIcon::paint(QPainter *painter)
{
    if (!isValid() || width() <= 0 || height() <= 0)
        return;
    // Drawn at device resolution into a mask first: tinting the painter's own
    // target would also recolour whatever the item was cleared to.
    const qreal dpr = window() ? window()->effectiveDevicePixelRatio() : 1.0;
    const QRectF bounds(QPointF(0, 0), size());
    QImage mask((size() * dpr).toSize(), QImage::Format_ARGB32_Premultiplied);
    mask.setDevicePixelRatio(dpr);
    mask.fill(Qt::transparent);
    QPainter maskPainter(&mask);
    render(&maskPainter, bounds);
    maskPainter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    maskPainter.fillRect(bounds, m_color);
    maskPainter.end();
    painter->drawImage(bounds, mask);
}
