#include "RunningPlayer.h"

#include "MprisAdaptors.h"
#include "MprisService.h"

#include <QDBusMessage>

namespace runningplayer {

bool handOver(const QDBusConnection &bus, const QList<QUrl> &urls, int timeoutMs)
{
    if (!bus.isConnected())
        return false;
    QStringList uris;
    for (const QUrl &url : urls)
        uris << url.toString(QUrl::FullyEncoded);
    QDBusMessage call = QDBusMessage::createMethodCall(QLatin1String(MprisService::serviceName),
                                                       QLatin1String(MprisService::objectPath),
                                                       QLatin1String(HandOverAdaptor::interfaceName),
                                                       QStringLiteral("Open"));
    call << uris;
    // No name owner answers at once with an error; a hung player is given up
    // on after the timeout.
    return bus.call(call, QDBus::Block, timeoutMs).type() == QDBusMessage::ReplyMessage;
}

} // namespace runningplayer
