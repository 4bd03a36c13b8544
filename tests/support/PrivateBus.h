#pragma once

#include <QProcess>
#include <QString>

// A session bus of the test's own (dbus-daemon), so that no test reaches the
// machine's. It activates nothing: a service the machine would start on
// demand (a desktop portal, say) is simply absent unless the test stands in
// for it. The daemon dies with the test, also when the test crashes.
class PrivateBus
{
public:
    ~PrivateBus() { stop(); }

    // Starts the daemon with its configuration in `dir` and points
    // DBUS_SESSION_BUS_ADDRESS at it; call before anything in the process
    // connects to the session bus. A bus that cannot start ends the test run.
    void start(const QString &dir);
    void stop();
    QString address() const { return m_address; }

private:
    QProcess m_daemon;
    QString m_address;
};
