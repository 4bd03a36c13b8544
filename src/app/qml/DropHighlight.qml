import QtQuick
import Quorvel

// A 2-point ember frame just inside the window's edge while a file drag
// hovers; it never takes input, so the drop reaches the window.
Rectangle {
    id: root

    required property bool isDropTargeted

    anchors.fill: parent
    anchors.margins: 2
    radius: 18
    color: "transparent"
    border.width: 2
    border.color: Theme.alpha(Theme.ember, root.isDropTargeted ? 0.9 : 0)
    enabled: false

    Behavior on border.color { ColorAnimation { duration: 160; easing.type: Easing.InOutQuad } }
}
