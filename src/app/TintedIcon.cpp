#include "TintedIcon.h"

#include <QImage>
#include <QPainter>
#include <QQuickWindow>

TintedIcon::TintedIcon(QQuickItem *parent)
    : QQuickPaintedItem(parent)
{
    setAntialiasing(true);
}

void TintedIcon::setName(const QString &name)
{
    if (m_name == name)
        return;
    m_name = name;
    m_renderer.load(resourcePath(name));
    m_renderer.setAspectRatioMode(Qt::KeepAspectRatio);
    const QSize natural = m_renderer.isValid() ? m_renderer.defaultSize() : QSize();
    setImplicitSize(natural.width(), natural.height());
    update();
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

QString TintedIcon::resourcePath(const QString &name)
{
    return QStringLiteral(":/Quorvel/icons/%1.svg").arg(name);
}

void TintedIcon::paint(QPainter *painter)
{
    if (!m_renderer.isValid() || width() <= 0 || height() <= 0)
        return;
    // Drawn at device resolution into a mask first: tinting the painter's own
    // target would also recolour whatever the item was cleared to.
    const qreal dpr = window() ? window()->effectiveDevicePixelRatio() : 1.0;
    QImage mask((size() * dpr).toSize(), QImage::Format_ARGB32_Premultiplied);
    mask.setDevicePixelRatio(dpr);
    mask.fill(Qt::transparent);
    QPainter maskPainter(&mask);
    maskPainter.setRenderHint(QPainter::Antialiasing);
    m_renderer.render(&maskPainter, QRectF(QPointF(0, 0), size()));
    maskPainter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    maskPainter.fillRect(QRectF(QPointF(0, 0), size()), m_color);
    maskPainter.end();
    painter->drawImage(QRectF(QPointF(0, 0), size()), mask);
}

void TintedIcon::geometryChange(const QRectF &newGeometry, const QRectF &oldGeometry)
{
    QQuickPaintedItem::geometryChange(newGeometry, oldGeometry);
    if (newGeometry.size() != oldGeometry.size())
        update();
}
