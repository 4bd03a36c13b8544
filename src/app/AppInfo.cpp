#include "AppInfo.h"

QString AppInfo::versionOrDefault(const QString &version)
{
    return version.isEmpty() ? QStringLiteral("1.0") : version;
}

QString AppInfo::appVersion()
{
    return versionOrDefault(QStringLiteral(QUORVEL_VERSION));
}
