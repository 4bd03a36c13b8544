import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Dialogs
import QtQuick.Layouts
import QtQuick.Window
import Quorvel

// The one window: frameless, its content up to the top edge, the header's
// own buttons and drag area standing in for a title bar.
Window {
    id: root

    // The resizer also holds the window at its minimum size.
    width: resizer.initialSize.width
    height: resizer.initialSize.height
    visible: true
    title: "QuorvelPlayer"
    color: Theme.night
    flags: Qt.Window | Qt.FramelessWindowHint

    // The built-in open panels (where the desktop offers no file chooser)
    // draw with the window's palette: dark like the rest of the window.
    palette.window: Theme.panel
    palette.windowText: Theme.ink
    palette.base: Theme.night
    palette.alternateBase: Theme.deepWine
    palette.text: Theme.ink
    palette.button: Theme.raisedPanel
    palette.buttonText: Theme.ink
    palette.light: Theme.deepWine
    palette.midlight: Theme.raisedPanel
    palette.mid: Theme.wine
    palette.dark: Theme.wine
    palette.shadow: Theme.night
    palette.highlight: Theme.ember
    palette.highlightedText: Theme.night
    palette.placeholderText: Theme.muted
    palette.brightText: Theme.gold

    WindowResizer {
        id: resizer
        window: root
    }

    Connections {
        target: ContentView
        function onRaiseRequested() {
            root.raise()
            root.requestActivate()
        }
    }

    AppBackground {
        anchors.fill: parent
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        WindowHeader {
            Layout.fillWidth: true
            window: root
            appVersion: AppInfo.appVersion
        }

        ColumnLayout {
            Layout.fillWidth: true
            Layout.fillHeight: true
            Layout.margins: 18
            spacing: 12

            DevicePicker {
                Layout.fillWidth: true
                catalogue: ContentView.devices
                picker: ContentView.devicePicker
            }
            EmptyState {
                objectName: "emptyState"
                visible: ContentView.queue.isEmpty
                Layout.fillWidth: true
                Layout.fillHeight: true
                onOpenFileRequested: ContentView.fileChooser.openFiles()
                onOpenFolderRequested: ContentView.fileChooser.openFolder()
            }
            NowPlayingPanel {
                objectName: "nowPlayingPanel"
                visible: !ContentView.queue.isEmpty
                Layout.fillWidth: true
                nowPlaying: ContentView.nowPlaying
                transport: ContentView.transport
            }
            QueuePanel {
                objectName: "queuePanel"
                visible: !ContentView.queue.isEmpty
                Layout.fillWidth: true
                Layout.fillHeight: true
                tracks: ContentView.tracks
                queue: ContentView.queue
                trackCountLabel: ContentView.nowPlaying.trackCountLabel
                onOpenFileRequested: ContentView.fileChooser.openFiles()
                onOpenFolderRequested: ContentView.fileChooser.openFolder()
            }
        }
    }

    DropArea {
        objectName: "dropArea"
        anchors.fill: parent
        keys: ["text/uri-list"]
        onEntered: (drag) => ContentView.intake.dragEntered(drag.urls)
        onExited: ContentView.intake.dragLeft()
        onDropped: (drop) => { ContentView.intake.handleDrop(drop.urls); drop.accept() }
    }

    DropHighlight {
        objectName: "dropHighlight"
        isDropTargeted: ContentView.intake.isDropTargeted
    }

    WindowResizeEdges {
        anchors.fill: parent
        window: root
    }

    FileDialog {
        id: fileDialog
        fileMode: FileDialog.OpenFiles
        nameFilters: ContentView.fileChooser.builtInNameFilters
        onAccepted: ContentView.intake.openFileURLs(fileDialog.selectedFiles)
    }
    FolderDialog {
        id: folderDialog
        onAccepted: ContentView.intake.openFolderURL(folderDialog.selectedFolder)
    }
    // Where the desktop offers no file chooser, Qt's own panels open.
    Connections {
        target: ContentView.fileChooser
        function onFileDialogNeeded() { fileDialog.open() }
        function onFolderDialogNeeded() { folderDialog.open() }
    }
}
