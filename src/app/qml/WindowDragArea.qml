import QtQuick
import Quorvel

// Moves the window while pressed; the first press on an inactive window
// starts the move at once. A double click zooms, as on a title bar.
MouseArea {
    id: root

    required property Window window

    WindowCommands {
        id: commands
        window: root.window
    }

    acceptedButtons: Qt.LeftButton
    onPressed: root.window.startSystemMove()
    onDoubleClicked: commands.toggleZoom()
}
