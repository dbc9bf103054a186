import QtQuick

// Stands in for the settings view until it is built.
Rectangle {
    color: "#06030f"
}
