#pragma once

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

// The program's identity as the build stamped it.
class AppInfo : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(QString appVersion READ appVersion CONSTANT)

public:
    using QObject::QObject;

    // The project version from the build; "1.0" when the build gave none.
    static QString appVersion();
    static QString versionOrDefault(const QString &version);
};
