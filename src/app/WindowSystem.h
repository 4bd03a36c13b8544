#pragma once

#include <QByteArray>
#include <QProcessEnvironment>

// Which Qt platform the player runs on, chosen before the application object
// exists. On a Wayland session the player runs natively: Qt 6.4 otherwise
// stays on X11 (XWayland) under GNOME for want of server-side decorations,
// which a frameless window does not need, and on X11 alone where no X
// server runs at all. A platform or input method the user names is kept.
namespace windowsystem {

struct Choice
{
    QByteArray platform;    // for QT_QPA_PLATFORM; empty: Qt's own choice
    QByteArray inputMethod; // for QT_IM_MODULE; empty: Qt's own choice
};

Choice choose(const QProcessEnvironment &environment);

// Puts choose()'s answer for this process's environment into it.
void applyToProcess();

} // namespace windowsystem
