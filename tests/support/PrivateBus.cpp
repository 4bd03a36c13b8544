#include "PrivateBus.h"

#include "TestFiles.h"

#include <csignal>
#include <sys/prctl.h>

namespace {
// The session bus's policy without its service directories.
constexpr char kConfig[] = R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=/tmp</listen>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";
} // namespace

void PrivateBus::start(const QString &dir)
{
    const QString config = dir + QStringLiteral("/private-bus.conf");
    if (!testfiles::writeAll(config, kConfig))
        qFatal("cannot write %s", qPrintable(config));
    m_daemon.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
    m_daemon.start(QStringLiteral("dbus-daemon"), {"--config-file=" + config, "--nofork", "--print-address=1"});
    if (!m_daemon.waitForStarted())
        qFatal("dbus-daemon is missing (scripts/install-deps --test)");
    while (!m_daemon.canReadLine() && m_daemon.waitForReadyRead(20000)) {
    }
    m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    if (m_address.isEmpty())
        qFatal("dbus-daemon gave no address");
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_address.toUtf8());
}

void PrivateBus::stop()
{
    if (m_daemon.state() == QProcess::NotRunning)
        return;
    m_daemon.terminate();
    m_daemon.waitForFinished();
}
