// Cantorella: follows the song an MPRIS player plays, shows its synced lyrics and study cards.

#include "app/ApplicationShell.h"
#include "app/CommandLine.h"
#include "app/QuitOnSignals.h"

#include <QApplication>
#include <QTextStream>

namespace {

// Without a display the platform plugin aborts with a message few people can act on.
bool hasDisplay()
{
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        return true;
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

} // namespace

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (CommandLine::printRequestedText(arguments))
        return 0;
    if (!hasDisplay()) {
        QTextStream(stderr) << "Cantorella needs a graphical desktop: neither DISPLAY nor WAYLAND_DISPLAY is set.\n"
                               "Start it from a desktop session (or set QT_QPA_PLATFORM, e.g. to offscreen).\n";
        return 1;
    }
    ApplicationShell::prepareProcess();
    QApplication app(argc, argv);
    QuitOnSignals quitOnSignals;
    ApplicationShell shell;
    if (!shell.mainWindow())
        return 1;
    const int status = QApplication::exec();
    shell.shutdown();
    return status;
}
