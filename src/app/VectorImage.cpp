#include "VectorImage.h"

#include <QPainter>

namespace {
QString filePath(const QUrl &url)
{
    if (url.scheme() == QLatin1String("qrc"))
        return QLatin1Char(':') + url.path();
    return url.isLocalFile() ? url.toLocalFile() : url.toString();
}
} // namespace

VectorImage::VectorImage(QQuickItem *parent)
    : QQuickPaintedItem(parent)
{
    setAntialiasing(true);
}

void VectorImage::setSource(const QUrl &source)
{
    if (m_source == source)
        return;
    m_source = source;
    if (source.isEmpty())
        m_renderer.load(QByteArray());
    else
        m_renderer.load(filePath(source));
    const QSize natural = m_renderer.isValid() ? m_renderer.defaultSize() : QSize(0, 0);
    setImplicitSize(natural.width(), natural.height());
    update();
    emit sourceChanged();
}

QRectF VectorImage::fittedRect(QSizeF natural, const QRectF &bounds)
{
    if (natural.isEmpty() || bounds.isEmpty())
        return {};
    const QSizeF fitted = natural.scaled(bounds.size(), Qt::KeepAspectRatio);
    QRectF rect(QPointF(), fitted);
    rect.moveCenter(bounds.center());
    return rect;
}

void VectorImage::paint(QPainter *painter)
{
    render(painter, QRectF(QPointF(0, 0), size()));
}

void VectorImage::render(QPainter *painter, const QRectF &bounds)
{
    if (!m_renderer.isValid())
        return;
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    m_renderer.render(painter, fittedRect(m_renderer.viewBoxF().size(), bounds));
}

void VectorImage::geometryChange(const QRectF &newGeometry, const QRectF &oldGeometry)
{
    QQuickPaintedItem::geometryChange(newGeometry, oldGeometry);
    if (newGeometry.size() != oldGeometry.size())
        update();
}
