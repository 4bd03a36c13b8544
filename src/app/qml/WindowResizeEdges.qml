import QtQuick
import Quorvel

// Thin grips along the frameless window's edges and corners, handing the
// resize to the window system.
Item {
    id: root

    required property Window window
    readonly property int grip: 5

    component Grip: MouseArea {
        required property int edges
        cursorShape: (edges === (Qt.LeftEdge | Qt.TopEdge) || edges === (Qt.RightEdge | Qt.BottomEdge)) ? Qt.SizeFDiagCursor
                   : (edges === (Qt.RightEdge | Qt.TopEdge) || edges === (Qt.LeftEdge | Qt.BottomEdge)) ? Qt.SizeBDiagCursor
                   : (edges & (Qt.LeftEdge | Qt.RightEdge)) ? Qt.SizeHorCursor : Qt.SizeVerCursor
        onPressed: root.window.startSystemResize(edges)
    }

    Grip { edges: Qt.LeftEdge; x: 0; y: root.grip; width: root.grip; height: root.height - 2 * root.grip }
    Grip { edges: Qt.RightEdge; x: root.width - root.grip; y: root.grip; width: root.grip; height: root.height - 2 * root.grip }
    Grip { edges: Qt.BottomEdge; x: root.grip; y: root.height - root.grip; width: root.width - 2 * root.grip; height: root.grip }
    Grip { edges: Qt.TopEdge; x: root.grip; y: 0; width: root.width - 2 * root.grip; height: root.grip }
    Grip { edges: Qt.LeftEdge | Qt.TopEdge; x: 0; y: 0; width: root.grip; height: root.grip }
    Grip { edges: Qt.RightEdge | Qt.TopEdge; x: root.width - root.grip; y: 0; width: root.grip; height: root.grip }
    Grip { edges: Qt.LeftEdge | Qt.BottomEdge; x: 0; y: root.height - root.grip; width: root.grip; height: root.grip }
    Grip { edges: Qt.RightEdge | Qt.BottomEdge; x: root.width - root.grip; y: root.height - root.grip; width: root.grip; height: root.grip }
}
