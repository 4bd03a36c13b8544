import QtQuick
import QtQuick.Templates as T
import Quorvel

// A small square icon button of the queue panel's header.
T.Button {
    id: root

    property string iconName
    property string toolTipText

    implicitWidth: 28
    implicitHeight: 28
    padding: 0
    font.family: SystemFonts.sans
    font.pixelSize: 12
    font.weight: Font.Medium

    // Help texts must show on hover even where the platform turns hover effects off.
    hoverEnabled: true
    HelpToolTip {
        text: root.toolTipText
        visible: root.hovered && root.toolTipText.length > 0
    }

    contentItem: Item {
        TintedIcon {
            anchors.centerIn: parent
            width: root.font.pixelSize + 2
            height: root.font.pixelSize + 2
            name: root.iconName
            color: Theme.alpha(Theme.gold, 0.74)
        }
    }

    background: Rectangle {
        radius: 7
        color: Theme.alpha(Theme.gold, root.down ? 0.12 : 0.055)
    }
}
