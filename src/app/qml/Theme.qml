pragma Singleton
import QtQuick

// The player's one palette: warm, dark, sRGB, drawn at per-use opacities.
QtObject {
    readonly property color ink: Qt.rgba(0.969, 0.898, 0.788, 1)
    readonly property color muted: Qt.rgba(0.773, 0.663, 0.549, 1)
    readonly property color ember: Qt.rgba(0.937, 0.408, 0.298, 1)
    readonly property color gold: Qt.rgba(0.941, 0.761, 0.533, 1)
    readonly property color wine: Qt.rgba(0.227, 0.059, 0.059, 1)
    readonly property color deepWine: Qt.rgba(0.129, 0.035, 0.031, 1)
    readonly property color night: Qt.rgba(0.063, 0.020, 0.016, 1)
    readonly property color panel: Qt.rgba(0.102, 0.031, 0.027, 1)
    readonly property color raisedPanel: Qt.rgba(0.220, 0.071, 0.055, 1)

    function alpha(c: color, opacity: real): color {
        return Qt.rgba(c.r, c.g, c.b, opacity)
    }
}
