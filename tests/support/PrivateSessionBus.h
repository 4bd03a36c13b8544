#pragma once

#include <QProcess>
#include <QString>

// A session bus of the test's own (`dbus-daemon --session`), so that nothing
// a test does reaches the desktop's bus. start() points
// DBUS_SESSION_BUS_ADDRESS at it before anything in the process connects to a
// bus, and programs the test starts inherit it. The daemon dies with the
// test, also when the test crashes.
class PrivateSessionBus
{
public:
    ~PrivateSessionBus() { stop(); }

    // False when dbus-daemon is missing or prints no address.
    bool start();
    void stop();
    QString address() const { return m_address; }

private:
    QProcess m_daemon;
    QString m_address;
};
