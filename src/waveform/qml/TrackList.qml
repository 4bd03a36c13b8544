import QtQuick
import Quorvel

// The lazily built list of track rows, faded at the edges while it can scroll
// further, kept centred on the current track.
Item {
    id: root

    required property TrackListModel tracks
    required property PlayQueue queue

    readonly property real rowHeight: 58

    ListView {
        id: list
        objectName: "trackListView"
        anchors.fill: parent
        clip: true
        spacing: 0
        boundsBehavior: Flickable.StopAtBounds
        model: root.tracks
        reuseItems: true
        cacheBuffer: root.rowHeight * 4

        delegate: TrackWaveformRow {
            width: ListView.view.width
            height: root.rowHeight
            tracks: root.tracks
        }

        NumberAnimation {
            id: centring
            target: list
            property: "contentY"
            duration: 200
            easing.type: Easing.InOutQuad
        }

        function centreOn(row) {
            centring.stop()
            centring.to = ViewRules.centredOffset(row, root.rowHeight, list.height, list.contentHeight)
            centring.start()
        }
    }

    Connections {
        target: root.queue
        function onCurrentIndexChanged() { list.centreOn(root.queue.currentIndex) }
    }

    Column {
        anchors.fill: parent
        enabled: false

        Rectangle {
            objectName: "topFade"
            width: parent.width
            height: 18
            opacity: ViewRules.showsTopFade(list.contentHeight, list.height, list.contentY) ? 1 : 0
            Behavior on opacity { NumberAnimation { duration: 180; easing.type: Easing.InOutQuad } }
            gradient: Gradient {
                GradientStop { position: 0; color: Theme.alpha(Theme.panel, 0.98) }
                GradientStop { position: 1; color: Theme.alpha(Theme.panel, 0) }
            }
        }
        Item { width: parent.width; height: Math.max(parent.height - 36, 0) }
        Rectangle {
            objectName: "bottomFade"
            width: parent.width
            height: 18
            opacity: ViewRules.showsBottomFade(list.contentHeight, list.height, list.contentY) ? 1 : 0
            Behavior on opacity { NumberAnimation { duration: 180; easing.type: Easing.InOutQuad } }
            gradient: Gradient {
                GradientStop { position: 0; color: Theme.alpha(Theme.panel, 0) }
                GradientStop { position: 1; color: Theme.alpha(Theme.panel, 0.98) }
            }
        }
    }
}
