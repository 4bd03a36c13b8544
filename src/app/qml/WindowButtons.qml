import QtQuick
import Quorvel

// Close, minimise and zoom, drawn by the player since its window has no
// system title bar.
Row {
    id: root

    required property Window window

    spacing: 8

    WindowCommands {
        id: commands
        window: root.window
    }

    // Closing the one window ends the player, so the close button is where
    // a Linux user finds the quit command and its shortcut.
    Shortcut {
        id: quit
        sequence: "Ctrl+Q"
        context: Qt.ApplicationShortcut
        onActivated: Qt.quit()
    }

    component WindowButton: MouseArea {
        id: button
        required property string name
        required property string glyph
        required property string tip
        required property color tint

        objectName: button.name + "WindowButton"
        width: 13
        height: 13
        hoverEnabled: true

        Rectangle {
            anchors.fill: parent
            radius: width / 2
            color: button.tint
            opacity: button.pressed ? 0.7 : (root.window.active ? 0.9 : 0.4)
        }
        HelpToolTip {
            objectName: button.name + "Tip"
            text: button.tip
            visible: button.containsMouse
        }
        Text {
            anchors.centerIn: parent
            visible: button.containsMouse
            text: button.glyph
            font.pixelSize: 11
            font.bold: true
            color: Theme.deepWine
        }
    }

    WindowButton {
        name: "close"
        glyph: "\u00D7"
        tip: qsTr("Quit QuorvelPlayer (%1)").arg(quit.nativeText)
        tint: Theme.ember
        onClicked: commands.close()
    }
    WindowButton {
        name: "minimise"
        glyph: "\u2013"
        tip: qsTr("Minimise")
        tint: Theme.gold
        onClicked: commands.minimise()
    }
    WindowButton {
        name: "zoom"
        glyph: "+"
        tip: qsTr("Zoom")
        tint: Theme.muted
        onClicked: commands.toggleZoom()
    }
}
