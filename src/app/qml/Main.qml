import QtQuick
import QtQuick.Window

Window {
    id: root
    width: 600
    height: 700
    minimumWidth: 600
    minimumHeight: 700
    visible: true
    title: "QuorvelPlayer"
    color: Theme.night

    AppBackground {
        anchors.fill: parent
    }
}
