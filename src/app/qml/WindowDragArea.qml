import QtQuick
import Quorvel

// Moves the window while pressed; the first press on an inactive window
// starts the move at once.
MouseArea {
    id: root

    required property Window window

    acceptedButtons: Qt.LeftButton
    onPressed: root.window.startSystemMove()
    onDoubleClicked: root.window.visibility === Window.Maximized ? root.window.showNormal() : root.window.showMaximized()
}
