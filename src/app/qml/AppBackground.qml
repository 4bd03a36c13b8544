import QtQuick
import QtQuick.Shapes

// Diagonal night / deep wine wash under everything, with a faint ember glow
// spreading from the top-trailing corner.
Shape {
    id: root

    ShapePath {
        strokeWidth: -1
        fillGradient: LinearGradient {
            x1: 0; y1: 0
            x2: root.width; y2: root.height
            GradientStop { position: 0.0; color: Theme.night }
            GradientStop { position: 0.5; color: Theme.deepWine }
            GradientStop { position: 1.0; color: Theme.night }
        }
        startX: 0; startY: 0
        PathLine { x: root.width; y: 0 }
        PathLine { x: root.width; y: root.height }
        PathLine { x: 0; y: root.height }
        PathLine { x: 0; y: 0 }
    }
    ShapePath {
        strokeWidth: -1
        fillGradient: RadialGradient {
            centerX: root.width; centerY: 0
            focalX: root.width; focalY: 0
            centerRadius: 480
            GradientStop { position: 0.0; color: Theme.alpha(Theme.ember, 0.12) }
            GradientStop { position: 1.0; color: "transparent" }
        }
        startX: 0; startY: 0
        PathLine { x: root.width; y: 0 }
        PathLine { x: root.width; y: root.height }
        PathLine { x: 0; y: root.height }
        PathLine { x: 0; y: 0 }
    }
}
