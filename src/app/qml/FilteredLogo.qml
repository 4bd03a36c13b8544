import QtQuick
import Quorvel

// The application's logo, drawn whole and centred in whatever frame it is
// given, its aspect ratio kept.
VectorImage {
    source: "qrc:/Quorvel/images/Logo.svg"
}
