import QtQuick

// Stands in for the sign-in view until it is built.
Rectangle {
    color: "#06030f"
}
