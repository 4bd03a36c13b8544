#pragma once

#include "VectorImage.h"

#include <QColor>
#include <QString>

// One of the application's monochrome SVG icons, painted in a single colour:
// the drawing's coverage is kept and its colour replaced, so one file serves
// every tint and opacity the views ask for.
class TintedIcon : public VectorImage
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QString name READ name WRITE setName NOTIFY nameChanged)
    Q_PROPERTY(QColor color READ color WRITE setColor NOTIFY colorChanged)
    Q_PROPERTY(qreal opticalOffset READ opticalOffset NOTIFY nameChanged)

public:
    explicit TintedIcon(QQuickItem *parent = nullptr);

    QString name() const { return m_name; }
    void setName(const QString &name);
    QColor color() const { return m_color; }
    void setColor(const QColor &color);

    // How far right of its box's centre the drawing is placed to look
    // centred: a play triangle's weight lies towards its left edge.
    qreal opticalOffset() const { return opticalOffset(m_name); }
    static qreal opticalOffset(const QString &name);

    // The resource an icon name stands for.
    static QUrl iconUrl(const QString &name);

    void paint(QPainter *painter) override;

signals:
    void nameChanged();
    void colorChanged();

private:
    QString m_name;
    QColor m_color = Qt::black;
};
