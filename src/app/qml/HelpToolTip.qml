import QtQuick
import QtQuick.Templates as T
import Quorvel

// The help text shown while the pointer rests on a control, drawn in the
// player's own dark colours rather than the style's light box. Declared
// inside the control it explains.
T.ToolTip {
    id: root

    x: parent ? (parent.width - root.implicitWidth) / 2 : 0
    y: -root.implicitHeight - 6
    implicitWidth: Math.max(root.implicitBackgroundWidth, root.implicitContentWidth + root.leftPadding + root.rightPadding)
    implicitHeight: Math.max(root.implicitBackgroundHeight, root.implicitContentHeight + root.topPadding + root.bottomPadding)
    margins: 6
    topPadding: 5
    bottomPadding: 5
    leftPadding: 8
    rightPadding: 8
    delay: 600
    font.family: SystemFonts.sans
    font.pixelSize: 10
    font.weight: Font.Medium
    closePolicy: T.Popup.CloseOnEscape | T.Popup.CloseOnPressOutsideParent | T.Popup.CloseOnReleaseOutsideParent

    contentItem: Text {
        text: root.text
        font: root.font
        color: Theme.alpha(Theme.ink, 0.9)
    }

    background: Rectangle {
        radius: 6
        color: Theme.raisedPanel
        border.color: Theme.alpha(Theme.gold, 0.2)
        border.width: 1
    }
}
