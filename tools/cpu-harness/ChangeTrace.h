#pragma once

#include <QStringList>

class QQuickWindow;

// Diagnostics for what costs the window its frames (scripts/measure-cpu.sh, -l).
namespace ChangeTrace {
// Before each frame, writes to standard output what the shown items changed since the last frame:
// "trace FRAME MS PATH .PROPERTY OLD -> NEW", "trace FRAME MS shown PATH" for an item that became
// visible, "trace FRAME MS nothing changed" for a frame no plain property asked for.
void install(QQuickWindow *window);
// Hides the items named (objectName, or cls:CLASS for a QML type or C++ class), or with
// nolayer:NAME turns their layer off, for as long as the window lives: what a part of the window
// costs is the difference it makes to the figures.
void hide(QQuickWindow *window, const QStringList &names);
}
