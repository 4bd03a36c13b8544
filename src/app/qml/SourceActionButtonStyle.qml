import QtQuick
import QtQuick.Templates as T
import Quorvel

// The large open-file / open-folder button: filled ember when prominent,
// a quiet gold outline otherwise.
T.Button {
    id: root

    property bool prominent: false
    property string iconName
    property string toolTipText

    readonly property color foreground: root.prominent ? Theme.deepWine : Theme.alpha(Theme.ink, 0.86)

    implicitWidth: root.implicitContentWidth + root.leftPadding + root.rightPadding
    implicitHeight: 44
    leftPadding: 14
    rightPadding: 14
    topPadding: 0
    bottomPadding: 0
    font.family: SystemFonts.sans
    font.pixelSize: 12
    font.weight: Font.DemiBold
    scale: root.down ? 0.985 : 1

    // Help texts must show on hover even where the platform turns hover effects off.
    hoverEnabled: true
    HelpToolTip {
        text: root.toolTipText
        visible: root.hovered && root.toolTipText.length > 0
    }

    contentItem: Item {
        implicitWidth: label.implicitWidth
        implicitHeight: label.implicitHeight

        Row {
            id: label
            anchors.centerIn: parent
            spacing: 6

            TintedIcon {
                anchors.verticalCenter: parent.verticalCenter
                visible: root.iconName.length > 0
                width: 16
                height: 16
                name: root.iconName
                color: root.foreground
            }
            Text {
                anchors.verticalCenter: parent.verticalCenter
                text: root.text
                font: root.font
                color: root.foreground
            }
        }
    }

    background: Rectangle {
        radius: 10
        color: root.prominent ? Theme.alpha(Theme.ember, root.down ? 0.78 : 1) : Theme.alpha(Theme.gold, root.down ? 0.1 : 0.055)
        border.width: root.prominent ? 0 : 1
        border.color: Theme.alpha(Theme.gold, 0.18)
    }
}
