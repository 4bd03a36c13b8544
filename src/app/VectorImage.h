#pragma once

#include <QQuickPaintedItem>
#include <QSvgRenderer>
#include <QUrl>
#include <QtQml/qqmlregistration.h>

// An SVG drawn straight at the item's size, whole and centred with its aspect
// ratio kept. Rendering the vector at the final size keeps it sharp at any
// scale and needs no pixmap cache.
class VectorImage : public QQuickPaintedItem
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QUrl source READ source WRITE setSource NOTIFY sourceChanged)
    Q_PROPERTY(bool valid READ isValid NOTIFY sourceChanged)

public:
    explicit VectorImage(QQuickItem *parent = nullptr);

    QUrl source() const { return m_source; }
    void setSource(const QUrl &source);
    bool isValid() const { return m_renderer.isValid(); }

    // Where a drawing of the given natural size lands inside `bounds`.
    static QRectF fittedRect(QSizeF natural, const QRectF &bounds);

    void paint(QPainter *painter) override;

signals:
    void sourceChanged();

protected:
    void geometryChange(const QRectF &newGeometry, const QRectF &oldGeometry) override;
    // Renders the drawing fitted into `bounds` of `painter`.
    void render(QPainter *painter, const QRectF &bounds);

private:
    QUrl m_source;
    QSvgRenderer m_renderer;
};
