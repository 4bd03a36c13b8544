import QtQuick

// The application's logo, scaled whole into whatever frame it is given.
Image {
    id: root

    source: "qrc:/Quorvel/images/Logo.svg"
    fillMode: Image.PreserveAspectFit
    // Rasterised at the frame's size so the vector stays sharp when scaled.
    sourceSize.width: root.width
    sourceSize.height: root.height
    smooth: true
    mipmap: true
    antialiasing: true
}
