#pragma once

#include <QColor>
#include <QQuickPaintedItem>
#include <QString>
#include <QSvgRenderer>
#include <QtQml/qqmlregistration.h>

// One of the application's monochrome SVG icons, painted in a single colour:
// the drawing's coverage is kept and its colour replaced, so one file serves
// every tint and opacity the views ask for.
class TintedIcon : public QQuickPaintedItem
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QString name READ name WRITE setName NOTIFY nameChanged)
    Q_PROPERTY(QColor color READ color WRITE setColor NOTIFY colorChanged)
    Q_PROPERTY(bool valid READ isValid NOTIFY nameChanged)

public:
    explicit TintedIcon(QQuickItem *parent = nullptr);

    QString name() const { return m_name; }
    void setName(const QString &name);
    QColor color() const { return m_color; }
    void setColor(const QColor &color);
    bool isValid() const { return m_renderer.isValid(); }

    // The resource an icon name stands for.
    static QString resourcePath(const QString &name);

    void paint(QPainter *painter) override;

signals:
    void nameChanged();
    void colorChanged();

protected:
    void geometryChange(const QRectF &newGeometry, const QRectF &oldGeometry) override;

private:
    QString m_name;
    QColor m_color = Qt::black;
    QSvgRenderer m_renderer;
};
