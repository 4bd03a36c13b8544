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

public:
    explicit TintedIcon(QQuickItem *parent = nullptr);

    QString name() const { return m_name; }
    void setName(const QString &name);
    QColor color() const { return m_color; }
    void setColor(const QColor &color);

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
