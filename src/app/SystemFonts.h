#pragma once

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

// The desktop's own font families, so that "system font" and its monospaced
// design follow the user's configuration instead of a name baked into QML.
class SystemFonts : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(QString sans READ sans CONSTANT)
    Q_PROPERTY(QString mono READ mono CONSTANT)

public:
    using QObject::QObject;

    static QString sans();
    static QString mono();
};
