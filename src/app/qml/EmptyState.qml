import QtQuick
import Quorvel
import QtQuick.Layouts
import Qt5Compat.GraphicalEffects

// The card shown while the queue is empty: the logo, an invitation to drop
// music, and the two open buttons.
Item {
    id: root

    signal openFileRequested()
    signal openFolderRequested()

    GradientCard {
        anchors.fill: parent
        radius: 12
        startColor: Theme.alpha(Theme.wine, 0.42)
        endColor: Theme.alpha(Theme.panel, 0.86)
        borderColor: Theme.alpha(Theme.gold, 0.1)
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        Item { Layout.fillHeight: true; Layout.minimumHeight: 24 }
        Item {
            Layout.alignment: Qt.AlignHCenter
            Layout.preferredWidth: 92
            Layout.preferredHeight: 92
            DropShadow {
                anchors.fill: logo
                source: logo
                radius: 24
                samples: 49
                horizontalOffset: 0
                verticalOffset: 12
                color: Qt.rgba(0, 0, 0, 0.32)
            }
            FilteredLogo {
                id: logo
                anchors.fill: parent
            }
        }
        Text {
            Layout.alignment: Qt.AlignHCenter
            Layout.topMargin: 20
            text: "Drop music here"
            font.family: SystemFonts.sans
            font.pixelSize: 20
            font.weight: Font.DemiBold
            color: Theme.ink
        }
        Text {
            Layout.alignment: Qt.AlignHCenter
            Layout.topMargin: 7
            text: "Open a file, a folder, or drag audio into the window"
            font.family: SystemFonts.sans
            font.pixelSize: 11
            color: Theme.alpha(Theme.muted, 0.66)
        }
        SourceButtons {
            Layout.alignment: Qt.AlignHCenter
            Layout.topMargin: 22
            Layout.preferredWidth: Math.min(360, root.width - 36)
            Layout.maximumWidth: 360
            onOpenFileRequested: root.openFileRequested()
            onOpenFolderRequested: root.openFolderRequested()
        }
        Text {
            Layout.alignment: Qt.AlignHCenter
            Layout.topMargin: 17
            text: "WAV  \u00B7  AIFF  \u00B7  AIF  \u00B7  FLAC  \u00B7  MP3"
            font.family: SystemFonts.mono
            font.pixelSize: 9
            font.weight: Font.Medium
            color: Theme.alpha(Theme.muted, 0.38)
        }
        Item { Layout.fillHeight: true; Layout.minimumHeight: 24 }
    }
}
