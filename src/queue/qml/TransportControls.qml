import QtQuick
import Quorvel

// Previous, Stop, Play/Pause and Next, centred in a row.
Row {
    id: root

    required property Transport transport
    required property NowPlaying nowPlaying

    spacing: 12

    TransportButtonStyle {
        objectName: "previousButton"
        anchors.verticalCenter: parent.verticalCenter
        iconName: "backward-end-fill"
        toolTipText: qsTr("Previous track")
        onClicked: root.transport.prev()
    }
    TransportButtonStyle {
        objectName: "stopButton"
        anchors.verticalCenter: parent.verticalCenter
        iconName: "stop-fill"
        toolTipText: qsTr("Stop")
        enabled: root.transport.canStop
        onClicked: root.transport.stopPlayback()
    }
    TransportButtonStyle {
        objectName: "playPauseButton"
        anchors.verticalCenter: parent.verticalCenter
        prominent: true
        iconName: root.nowPlaying.playPauseIcon
        busy: root.nowPlaying.isPlayPauseBusy
        toolTipText: root.nowPlaying.playPauseHelpText
        onClicked: root.transport.togglePausePlayback()
    }
    TransportButtonStyle {
        objectName: "nextButton"
        anchors.verticalCenter: parent.verticalCenter
        iconName: "forward-end-fill"
        toolTipText: qsTr("Next track")
        enabled: root.transport.canGoNext
        onClicked: root.transport.next()
    }
}
