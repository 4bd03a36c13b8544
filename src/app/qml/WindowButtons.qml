import QtQuick
import Quorvel

// Close, minimise and zoom, drawn by the player since its window has no
// system title bar.
Row {
    id: root

    required property Window window

    spacing: 8

    // Closing the one window ends the player, so the close button is where
    // a Linux user finds the quit command and its shortcut.
    Shortcut {
        id: quit
        sequence: "Ctrl+Q"
        context: Qt.ApplicationShortcut
        onActivated: Qt.quit()
    }

    Repeater {
        model: [
            { name: "close", glyph: "\u00D7", tip: qsTr("Quit QuorvelPlayer (%1)").arg(quit.nativeText) },
            { name: "minimise", glyph: "\u2013", tip: qsTr("Minimise") },
            { name: "zoom", glyph: "+", tip: qsTr("Zoom") }
        ]
        delegate: MouseArea {
            id: button
            required property var modelData
            objectName: modelData.name + "WindowButton"
            width: 13
            height: 13
            hoverEnabled: true
            onClicked: {
                if (modelData.name === "close") root.window.close()
                else if (modelData.name === "minimise") root.window.showMinimized()
                else root.window.visibility === Window.Maximized ? root.window.showNormal() : root.window.showMaximized()
            }

            Rectangle {
                anchors.fill: parent
                radius: width / 2
                color: button.modelData.name === "close" ? Theme.ember
                     : button.modelData.name === "minimise" ? Theme.gold : Theme.muted
                opacity: button.pressed ? 0.7 : (root.window.active ? 0.9 : 0.4)
            }
            HelpToolTip {
                objectName: button.modelData.name + "Tip"
                text: button.modelData.tip
                visible: button.containsMouse
            }
            Text {
                anchors.centerIn: parent
                visible: button.containsMouse
                text: button.modelData.glyph
                font.pixelSize: 11
                font.bold: true
                color: Theme.deepWine
            }
        }
    }
}
