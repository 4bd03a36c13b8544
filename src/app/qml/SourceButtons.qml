import QtQuick
import Quorvel
import QtQuick.Layouts

// "Open file" and "Open folder", sharing the row's width equally.
RowLayout {
    id: root

    signal openFileRequested()
    signal openFolderRequested()

    spacing: 10

    SourceActionButtonStyle {
        objectName: "openFileButton"
        Layout.fillWidth: true
        Layout.preferredWidth: 1
        prominent: true
        text: "Open file"
        iconName: "doc-plus"
        onClicked: root.openFileRequested()
    }
    SourceActionButtonStyle {
        objectName: "openFolderButton"
        Layout.fillWidth: true
        Layout.preferredWidth: 1
        prominent: false
        text: "Open folder"
        iconName: "folder-plus"
        onClicked: root.openFolderRequested()
    }
}
