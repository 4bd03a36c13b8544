import QtQuick
import Quorvel
import QtQuick.Layouts

// The top bar: window buttons at the leading end, the title centred between
// two equal end boxes, the version at the trailing end. Pressing anywhere but
// the buttons' corner moves the window.
Item {
    id: root

    required property Window window
    required property string appVersion

    implicitHeight: 50

    Rectangle {
        anchors.fill: parent
        color: Theme.alpha(Theme.panel, 0.7)
    }

    WindowDragArea {
        objectName: "windowDragArea"
        anchors.fill: parent
        anchors.leftMargin: 92
        window: root.window
    }

    RowLayout {
        anchors.fill: parent
        anchors.leftMargin: 18
        anchors.rightMargin: 18
        spacing: 0

        Item {
            Layout.preferredWidth: 92
            Layout.fillHeight: true
            WindowButtons {
                anchors.verticalCenter: parent.verticalCenter
                window: root.window
            }
        }
        Item { Layout.fillWidth: true }
        Text {
            objectName: "windowTitle"
            text: "Quorvel Sound Player"
            font.family: SystemFonts.sans
            font.pixelSize: 10
            font.weight: Font.Medium
            color: Theme.alpha(Theme.ink, 0.48)
        }
        Item { Layout.fillWidth: true }
        Text {
            objectName: "versionText"
            Layout.preferredWidth: 92
            horizontalAlignment: Text.AlignRight
            text: "v" + root.appVersion
            font.family: SystemFonts.mono
            font.pixelSize: 9
            font.weight: Font.Medium
            color: Theme.alpha(Theme.muted, 0.34)
        }
    }

    Rectangle {
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        height: 1
        color: Theme.alpha(Theme.gold, 0.1)
    }
}
