import QtQuick
import Quorvel
import QtQuick.Shapes

// A rounded card filled with a diagonal gradient from its top-leading to its
// bottom-trailing corner, outlined with a hairline.
Shape {
    id: root

    property real radius: 12
    property color startColor
    property color endColor
    property color borderColor

    antialiasing: true
    layer.enabled: true
    layer.samples: 4

    ShapePath {
        strokeColor: root.borderColor
        strokeWidth: 1
        fillGradient: LinearGradient {
            x1: 0; y1: 0
            x2: root.width; y2: root.height
            GradientStop { position: 0; color: root.startColor }
            GradientStop { position: 1; color: root.endColor }
        }
        startX: root.radius + 0.5; startY: 0.5
        PathLine { x: root.width - root.radius - 0.5; y: 0.5 }
        PathArc { x: root.width - 0.5; y: root.radius + 0.5; radiusX: root.radius; radiusY: root.radius }
        PathLine { x: root.width - 0.5; y: root.height - root.radius - 0.5 }
        PathArc { x: root.width - root.radius - 0.5; y: root.height - 0.5; radiusX: root.radius; radiusY: root.radius }
        PathLine { x: root.radius + 0.5; y: root.height - 0.5 }
        PathArc { x: 0.5; y: root.height - root.radius - 0.5; radiusX: root.radius; radiusY: root.radius }
        PathLine { x: 0.5; y: root.radius + 0.5 }
        PathArc { x: root.radius + 0.5; y: 0.5; radiusX: root.radius; radiusY: root.radius }
    }
}
