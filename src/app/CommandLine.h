#pragma once

#include <QString>
#include <QStringList>

// What the program takes from its command line and its environment, for --help and the manual
// page (packaging/ writes the page's sections with --manual-sections at build time). The program
// has no options of its own; Qt's (-platform, -style…) apply.
namespace CommandLine {

// The text --help prints.
QString helpText();
// The ENVIRONMENT and FILES sections of the manual page (roff).
QString manualText();

// Prints the text --help or --manual-sections asks for and returns true; false for any other
// command line (the program then starts).
bool printRequestedText(const QStringList &arguments);

} // namespace CommandLine
