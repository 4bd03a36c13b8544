import QtQuick
import Quorvel
import QtQuick.Controls.Basic
import QtQuick.Layouts

// The card of the current track: its name and position, its waveform (a click
// seeks), the elapsed and total time, and the transport buttons.
Item {
    id: root

    required property NowPlaying nowPlaying
    required property Transport transport

    implicitHeight: column.implicitHeight + 18 + 15

    GradientCard {
        anchors.fill: parent
        radius: 12
        startColor: Theme.alpha(Theme.wine, 0.58)
        endColor: Theme.alpha(Theme.deepWine, 0.9)
        borderColor: Theme.alpha(Theme.gold, 0.11)
    }

    ColumnLayout {
        id: column
        anchors.fill: parent
        anchors.leftMargin: 18
        anchors.rightMargin: 18
        anchors.topMargin: 18
        anchors.bottomMargin: 15
        spacing: 0

        RowLayout {
            Layout.fillWidth: true
            spacing: 8
            ColumnLayout {
                Layout.fillWidth: true
                Layout.alignment: Qt.AlignTop
                spacing: 7
                Text {
                    text: qsTr("NOW PLAYING")
                    font.family: SystemFonts.mono
                    font.pixelSize: 9
                    font.weight: Font.Medium
                    color: Theme.alpha(Theme.muted, 0.46)
                }
                Text {
                    objectName: "currentTrackTitle"
                    Layout.fillWidth: true
                    text: root.nowPlaying.currentTrackTitle
                    font.family: SystemFonts.sans
                    font.pixelSize: 16
                    font.weight: Font.DemiBold
                    color: Theme.ink
                    textFormat: Text.PlainText
                    wrapMode: Text.NoWrap
                    elide: Text.ElideMiddle
                    maximumLineCount: 1
                }
                Text {
                    objectName: "failureReason"
                    Layout.fillWidth: true
                    visible: text.length > 0
                    text: root.nowPlaying.failureReason
                    font.family: SystemFonts.sans
                    font.pixelSize: 10
                    font.weight: Font.Medium
                    color: Theme.ember
                    elide: Text.ElideRight
                    maximumLineCount: 1
                }
            }
            Text {
                objectName: "trackPositionLabel"
                Layout.leftMargin: 16
                Layout.alignment: Qt.AlignTop
                text: root.nowPlaying.trackPositionLabel
                font.family: SystemFonts.mono
                font.pixelSize: 9
                font.weight: Font.Medium
                color: Theme.alpha(Theme.muted, 0.46)
            }
        }

        Item {
            id: waveformArea
            Layout.fillWidth: true
            Layout.preferredHeight: 82 + 15

            WaveformView {
                objectName: "nowPlayingWaveform"
                anchors.left: parent.left
                anchors.right: parent.right
                anchors.bottom: parent.bottom
                height: 82
                samples: root.nowPlaying.currentWaveformSamples
                progress: root.transport.playbackProgress
                barWidth: 2.5
                spacing: 3.5
                activeColors: [Theme.ember, Theme.gold]
                inactiveColor: Theme.alpha(Theme.gold, 0.18)
            }
            MouseArea {
                objectName: "nowPlayingSeekSurface"
                anchors.fill: parent
                property point pressPoint
                onPressed: (mouse) => pressPoint = Qt.point(mouse.x, mouse.y)
                onReleased: (mouse) => root.nowPlaying.seekClick(width, pressPoint, Qt.point(mouse.x, mouse.y))
            }
            BusyIndicator {
                anchors.centerIn: parent
                width: 22
                height: 22
                running: root.nowPlaying.isCurrentTrackLoading
                visible: running
                palette.dark: Theme.gold
            }
        }

        RowLayout {
            Layout.fillWidth: true
            Layout.topMargin: 4
            Text {
                objectName: "elapsedLabel"
                text: root.nowPlaying.elapsedLabel
                font.family: SystemFonts.mono
                font.pixelSize: 8
                font.weight: Font.Medium
                color: Theme.alpha(Theme.muted, 0.46)
            }
            Item { Layout.fillWidth: true }
            Text {
                objectName: "durationLabel"
                text: root.nowPlaying.durationLabel
                font.family: SystemFonts.mono
                font.pixelSize: 8
                font.weight: Font.Medium
                color: Theme.alpha(Theme.muted, 0.46)
            }
        }

        TransportControls {
            Layout.alignment: Qt.AlignHCenter
            Layout.topMargin: 10
            transport: root.transport
            nowPlaying: root.nowPlaying
        }
    }
}
