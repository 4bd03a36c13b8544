#include "WindowSystem.h"

namespace windowsystem {

Choice choose(const QProcessEnvironment &environment)
{
    Choice choice;
    const bool wayland = environment.contains(QStringLiteral("WAYLAND_DISPLAY"))
                         || environment.value(QStringLiteral("XDG_SESSION_TYPE")) == QLatin1String("wayland");
    QString platform = environment.value(QStringLiteral("QT_QPA_PLATFORM"));
    if (platform.isEmpty() && wayland) {
        platform = QStringLiteral("wayland");
        choice.platform = "wayland;xcb"; // X11 still, when the compositor refuses us
    }
    // Qt 6.4's compositor-side input method reads the text input of the
    // seat without checking that there is one, and a compositor without
    // input devices (a headless one) has none: the first empty text in a
    // view crashes it. The player has no text entry of its own; "compose"
    // is what Qt uses wherever the compositor offers no input method.
    if (platform.startsWith(QLatin1String("wayland")) && !environment.contains(QStringLiteral("QT_IM_MODULE")))
        choice.inputMethod = "compose";
    return choice;
}

void applyToProcess()
{
    const Choice choice = choose(QProcessEnvironment::systemEnvironment());
    if (!choice.platform.isEmpty())
        qputenv("QT_QPA_PLATFORM", choice.platform);
    if (!choice.inputMethod.isEmpty())
        qputenv("QT_IM_MODULE", choice.inputMethod);
}

} // namespace windowsystem
