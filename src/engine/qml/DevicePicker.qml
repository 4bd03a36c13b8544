import QtQuick
import Quorvel
import QtQuick.Controls.Basic
import QtQuick.Layouts
import QtQuick.Templates as T

// The wide output-device button with the selected device and the sample rate,
// and the popover listing every device.
Item {
    id: root

    required property DeviceCatalogue catalogue
    required property DevicePickerState picker

    implicitHeight: 66

    T.Button {
        id: button
        objectName: "devicePickerButton"
        anchors.fill: parent
        leftPadding: 15
        rightPadding: 15
        onClicked: root.picker.toggle()

        background: Rectangle {
            radius: 12
            color: Theme.alpha(Theme.raisedPanel, 0.52)
            border.color: Theme.alpha(Theme.gold, 0.13)
            border.width: 1
        }

        contentItem: RowLayout {
            spacing: 12

            Rectangle {
                Layout.preferredWidth: 36
                Layout.preferredHeight: 36
                radius: 9
                color: Theme.alpha(Theme.gold, 0.09)
                TintedIcon {
                    anchors.centerIn: parent
                    width: 18
                    height: 18
                    name: "speaker-wave-fill"
                    color: Theme.gold
                }
            }
            ColumnLayout {
                Layout.fillWidth: true
                spacing: 4
                Text {
                    text: "Output device"
                    font.family: SystemFonts.sans
                    font.pixelSize: 9
                    font.weight: Font.Medium
                    color: Theme.alpha(Theme.muted, 0.58)
                }
                Text {
                    objectName: "selectedDeviceName"
                    Layout.fillWidth: true
                    text: root.picker.deviceLabel
                    font.family: SystemFonts.sans
                    font.pixelSize: 12
                    font.weight: Font.DemiBold
                    color: Theme.ink
                    elide: Text.ElideRight
                    maximumLineCount: 1
                }
                Text {
                    objectName: "signalPathLabel"
                    Layout.fillWidth: true
                    visible: text.length > 0
                    text: root.picker.signalPath.label
                    font.family: SystemFonts.mono
                    font.pixelSize: 9
                    font.weight: Font.Medium
                    color: Theme.alpha(Theme.gold, 0.78)
                    elide: Text.ElideRight
                    maximumLineCount: 1
                }
            }
            Rectangle {
                Layout.leftMargin: 8
                Layout.preferredHeight: 24
                Layout.preferredWidth: rateText.implicitWidth + 16
                radius: 6
                color: Theme.alpha(Theme.gold, 0.08)
                Text {
                    id: rateText
                    anchors.centerIn: parent
                    objectName: "sampleRateBadge"
                    text: root.picker.sampleRateLabel
                    font.family: SystemFonts.mono
                    font.pixelSize: 9
                    font.weight: Font.Medium
                    color: Theme.gold
                }
            }
            TintedIcon {
                Layout.preferredWidth: 11
                Layout.preferredHeight: 11
                name: "chevron-down"
                color: Theme.alpha(Theme.ink, 0.7)
            }
        }
    }

    Popup {
        id: popover
        objectName: "devicePopover"
        y: button.height + 6
        width: 340
        padding: 10
        visible: root.picker.isPresented
        // Escape reaches a popup only while it holds the focus.
        focus: true
        closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutsideParent
        onClosed: root.picker.isPresented = false

        background: Rectangle {
            radius: 10
            color: Theme.deepWine
            border.color: Theme.alpha(Theme.gold, 0.13)
            border.width: 1
        }

        contentItem: ColumnLayout {
            spacing: 8

            Text {
                leftPadding: 8
                rightPadding: 8
                topPadding: 4
                text: "OUTPUT DEVICE"
                font.family: SystemFonts.mono
                font.pixelSize: 9
                font.weight: Font.DemiBold
                color: Theme.alpha(Theme.muted, 0.5)
            }
            ListView {
                id: deviceList
                objectName: "deviceList"
                Layout.fillWidth: true
                Layout.preferredHeight: Math.min(deviceList.contentHeight, 240)
                spacing: 4
                clip: true
                boundsBehavior: Flickable.StopAtBounds
                model: root.catalogue
                // The bar stands beside the rows, not over them.
                ScrollBar.vertical: ScrollBar {
                    id: scrollBar
                    objectName: "deviceScrollBar"
                    padding: 0
                    policy: ScrollBar.AlwaysOn
                    visible: deviceList.contentHeight > deviceList.height
                    contentItem: Rectangle {
                        implicitWidth: 4
                        radius: width / 2
                        color: Theme.alpha(Theme.gold, scrollBar.pressed ? 0.5 : 0.3)
                    }
                    background: Rectangle {
                        implicitWidth: 4
                        radius: width / 2
                        color: Theme.alpha(Theme.gold, 0.06)
                    }
                }

                delegate: T.Button {
                    id: row
                    required property int index
                    required property string name
                    required property bool isSelected

                    width: ListView.view.width - (scrollBar.visible ? scrollBar.width + 6 : 0)
                    height: 36
                    leftPadding: 10
                    rightPadding: 10
                    onClicked: root.picker.choose(row.index)

                    background: Rectangle {
                        radius: 8
                        color: row.isSelected ? Theme.alpha(Theme.ember, 0.1) : Theme.alpha(Theme.gold, 0.035)
                    }
                    contentItem: RowLayout {
                        spacing: 10
                        TintedIcon {
                            Layout.preferredWidth: 14
                            Layout.preferredHeight: 14
                            name: "speaker-wave"
                            color: Theme.alpha(Theme.gold, 0.7)
                        }
                        Text {
                            Layout.fillWidth: true
                            text: row.name
                            font.family: SystemFonts.sans
                            font.pixelSize: 11
                            font.weight: Font.Medium
                            color: Theme.alpha(Theme.ink, 0.84)
                            elide: Text.ElideRight
                            maximumLineCount: 1
                        }
                        TintedIcon {
                            Layout.leftMargin: 8
                            Layout.preferredWidth: 12
                            Layout.preferredHeight: 12
                            visible: row.isSelected
                            name: "checkmark"
                            color: Theme.ember
                        }
                    }
                }
            }
        }
    }
}
