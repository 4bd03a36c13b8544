import QtQuick
import Quorvel

// The lazily built list of track rows, faded at the edges while it can scroll
// further, kept centred on the current track. The list ends at the bottom of
// the rounded queue card, so what it fills near that edge follows the card's
// corners: the clip of a list is only ever rectangular.
Item {
    id: root

    required property TrackListModel tracks
    required property PlayQueue queue
    required property real cornerRadius

    readonly property real rowHeight: root.tracks.rowHeight
    // How far the list has scrolled from its first row.
    readonly property real scrollOffset: list.contentY - list.originY

    // The current row's fill, under the rows: a rounded rectangle reaching
    // down to the card's bottom edge, cut to the part of the row in view.
    Item {
        id: currentFill
        objectName: "currentRowFill"
        readonly property real rowTop: root.queue.currentIndex * root.rowHeight - root.scrollOffset
        visible: root.queue.currentIndex >= 0 && root.queue.currentIndex < list.count
        y: Math.max(rowTop, 0)
        width: root.width
        height: Math.max(Math.min(rowTop + root.rowHeight, root.height) - y, 0)
        clip: true

        Rectangle {
            y: -currentFill.y - root.cornerRadius
            width: parent.width
            height: root.height + root.cornerRadius
            radius: root.cornerRadius
            color: Theme.alpha(Theme.ember, 0.07)
        }
    }

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
            centring.to = list.originY + root.tracks.centredOffset(row, list.count, list.height)
            centring.start()
        }
    }

    Connections {
        target: root.queue
        function onCurrentIndexChanged() { list.centreOn(root.queue.currentIndex) }
    }

    Rectangle {
        objectName: "topFade"
        anchors.top: parent.top
        width: parent.width
        height: 18
        enabled: false
        opacity: root.tracks.showsTopFade(list.count, list.height, root.scrollOffset) ? 1 : 0
        Behavior on opacity { NumberAnimation { duration: 180; easing.type: Easing.InOutQuad } }
        gradient: Gradient {
            GradientStop { position: 0; color: Theme.alpha(Theme.panel, 0.98) }
            GradientStop { position: 1; color: Theme.alpha(Theme.panel, 0) }
        }
    }

    // The bottom fade meets the card's rounded corners: the visible 18 points
    // are the foot of a taller rounded rectangle whose top stays transparent.
    Item {
        objectName: "bottomFade"
        anchors.bottom: parent.bottom
        width: parent.width
        height: 18
        clip: true
        enabled: false
        opacity: root.tracks.showsBottomFade(list.count, list.height, root.scrollOffset) ? 1 : 0
        Behavior on opacity { NumberAnimation { duration: 180; easing.type: Easing.InOutQuad } }

        Rectangle {
            anchors.bottom: parent.bottom
            width: parent.width
            height: parent.height + root.cornerRadius
            radius: root.cornerRadius
            gradient: Gradient {
                GradientStop { position: 0; color: Theme.alpha(Theme.panel, 0) }
                GradientStop { position: root.cornerRadius / (18 + root.cornerRadius); color: Theme.alpha(Theme.panel, 0) }
                GradientStop { position: 1; color: Theme.alpha(Theme.panel, 0.98) }
            }
        }
    }
}
