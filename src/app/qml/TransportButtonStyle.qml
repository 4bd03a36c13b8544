import QtQuick
import QtQuick.Templates as T
import QtQuick.Controls.Basic
import Quorvel

// A round transport button; the prominent one is the large filled Play/Pause.
T.Button {
    id: root

    property bool prominent: false
    property string iconName
    property string toolTipText
    // Shows a spinning indicator in place of the symbol.
    property bool busy: false

    readonly property real side: root.prominent ? 46 : 34

    implicitWidth: root.side
    implicitHeight: root.side
    padding: 0
    font.family: SystemFonts.sans
    font.pixelSize: root.prominent ? 18 : 13
    font.weight: Font.DemiBold
    opacity: root.enabled ? 1 : 0.28
    scale: root.down ? 0.94 : 1

    // Help texts must show on hover even where the platform turns hover effects off.
    hoverEnabled: true
    HelpToolTip {
        text: root.toolTipText
        visible: root.hovered && root.toolTipText.length > 0
    }

    readonly property color foreground: root.prominent ? Theme.deepWine : Theme.alpha(Theme.ink, 0.76)

    contentItem: Item {
        TintedIcon {
            id: icon
            anchors.centerIn: parent
            anchors.horizontalCenterOffset: icon.opticalOffset
            width: Math.round(root.font.pixelSize * 1.25)
            height: Math.round(root.font.pixelSize * 1.25)
            visible: !root.busy
            name: root.iconName
            color: root.foreground
        }
        BusyIndicator {
            anchors.centerIn: parent
            width: Math.round(root.font.pixelSize * 1.4)
            height: width
            padding: 0
            running: root.busy
            visible: running
            palette.dark: root.foreground
        }
    }

    background: Rectangle {
        radius: width / 2
        color: root.prominent ? Theme.alpha(Theme.ember, root.down ? 0.78 : 1) : Theme.alpha(Theme.gold, root.down ? 0.12 : 0.055)
    }
}
