#pragma once

#include <QDBusConnection>
#include <QList>
#include <QUrl>

// One player per desktop session: a second start hands its files and folders
// to the player already on the bus, which plays them as a drop and raises its
// window (without any, it only raises it).
namespace runningplayer {

// True when a running player took `urls` within `timeoutMs`; the caller then
// exits. False without a bus, without a running player, or when it does not
// answer in time: the caller starts as a player of its own.
bool handOver(const QDBusConnection &bus, const QList<QUrl> &urls, int timeoutMs = 1000);

} // namespace runningplayer
