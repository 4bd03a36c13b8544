import QtQuick
import Quorvel
import QtQuick.Layouts

// The queue: a header with the track count and the open buttons, and the
// scrolling list of tracks.
Item {
    id: root

    required property TrackListModel tracks
    required property PlayQueue queue
    required property string trackCountLabel
    signal openFileRequested()
    signal openFolderRequested()

    Rectangle {
        id: card
        anchors.fill: parent
        radius: 12
        color: Theme.alpha(Theme.panel, 0.88)
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        Item {
            Layout.fillWidth: true
            Layout.preferredHeight: 42

            RowLayout {
                anchors.fill: parent
                anchors.leftMargin: 14
                anchors.rightMargin: 14
                spacing: 9
                Text {
                    text: "QUEUE"
                    font.family: SystemFonts.mono
                    font.pixelSize: 10
                    font.weight: Font.DemiBold
                    color: Theme.alpha(Theme.ink, 0.68)
                }
                Text {
                    objectName: "trackCountLabel"
                    text: root.trackCountLabel
                    font.family: SystemFonts.sans
                    font.pixelSize: 9
                    color: Theme.alpha(Theme.muted, 0.4)
                }
                Item { Layout.fillWidth: true; Layout.minimumWidth: 12 }
                QueueToolbarButtonStyle {
                    iconName: "doc-plus"
                    toolTipText: qsTr("Open files")
                    onClicked: root.openFileRequested()
                }
                QueueToolbarButtonStyle {
                    iconName: "folder-plus"
                    toolTipText: qsTr("Open folder")
                    onClicked: root.openFolderRequested()
                }
            }
            Rectangle {
                anchors.left: parent.left
                anchors.right: parent.right
                anchors.bottom: parent.bottom
                height: 1
                color: Theme.alpha(Theme.gold, 0.08)
            }
        }

        TrackList {
            Layout.fillWidth: true
            Layout.fillHeight: true
            tracks: root.tracks
            queue: root.queue
            cornerRadius: card.radius
        }
    }

    // The border lies over the content; the list keeps what it draws inside
    // the rounded corners.
    Rectangle {
        anchors.fill: parent
        radius: card.radius
        color: "transparent"
        border.color: Theme.alpha(Theme.gold, 0.1)
        border.width: 1
    }
}
