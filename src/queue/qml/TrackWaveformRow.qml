import QtQuick
import Quorvel
import QtQuick.Controls.Basic
import QtQuick.Layouts
import QtQuick.Templates as T

// One queued track: number, waveform (a click plays from there), file name (a
// click plays from the start) and duration.
Item {
    id: root

    required property int index
    required property string numberLabel
    required property string title
    required property list<real> samples
    required property string durationLabel
    required property bool isLoading
    required property bool isCurrent
    required property real progress
    required property TrackListModel tracks

    Component.onCompleted: root.tracks.rowShown(root, root.index)
    ListView.onReused: root.tracks.rowShown(root, root.index)
    ListView.onPooled: root.tracks.rowHidden(root)
    Component.onDestruction: if (root.tracks) root.tracks.rowHidden(root)

    // The current row's fill lies under the list (TrackList), clipped to the
    // rounded card.
    Rectangle {
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        height: 1
        color: Theme.alpha(Theme.gold, 0.07)
    }

    RowLayout {
        anchors.fill: parent
        anchors.leftMargin: 14
        anchors.rightMargin: 14
        spacing: 11

        Text {
            Layout.preferredWidth: 24
            text: root.numberLabel
            font.family: SystemFonts.mono
            font.pixelSize: 9
            font.weight: Font.Medium
            color: root.isCurrent ? Theme.ember : Theme.alpha(Theme.muted, 0.44)
        }
        Item {
            Layout.preferredWidth: 112
            Layout.preferredHeight: 28
            WaveformView {
                anchors.fill: parent
                samples: root.samples
                progress: root.progress
                barWidth: 1.5
                spacing: 2.5
                activeColors: [Theme.ember, Theme.gold]
                inactiveColor: root.isCurrent ? Theme.alpha(Theme.ember, 0.44) : Theme.alpha(Theme.gold, 0.17)
            }
            BusyIndicator {
                anchors.centerIn: parent
                width: 16
                height: 16
                running: root.isLoading
                visible: running
                palette.dark: Theme.gold
            }
            MouseArea {
                objectName: "rowSeekSurface"
                anchors.fill: parent
                property point pressPoint
                onPressed: (mouse) => pressPoint = Qt.point(mouse.x, mouse.y)
                onReleased: (mouse) => root.tracks.seekClick(root.index, width, pressPoint, Qt.point(mouse.x, mouse.y))
            }
        }
        T.Button {
            Layout.fillWidth: true
            Layout.fillHeight: true
            onClicked: root.tracks.playFromStart(root.index)
            background: null
            contentItem: Text {
                text: root.title
                verticalAlignment: Text.AlignVCenter
                font.family: SystemFonts.sans
                font.pixelSize: 11
                font.weight: Font.Medium
                color: root.isCurrent ? Theme.ember : Theme.alpha(Theme.ink, 0.7)
                textFormat: Text.PlainText
                wrapMode: Text.NoWrap
                elide: Text.ElideMiddle
                maximumLineCount: 1
            }
        }
        Text {
            Layout.preferredWidth: 40
            horizontalAlignment: Text.AlignRight
            text: root.durationLabel
            font.family: SystemFonts.mono
            font.pixelSize: 8
            font.weight: Font.Medium
            color: Theme.alpha(Theme.muted, 0.44)
        }
    }
}
