#include "app/CommandLine.h"

#include <cstdio>

namespace CommandLine {
namespace {

// A variable or a file, and what it does.
struct Entry
{
    QString name;
    QString help;
};

// Every variable the program reads (the packaging test checks the sources against this list).
QList<Entry> variables()
{
    const QString serverLayers = QStringLiteral("unset: the system settings file's [Server] value, else ");
    return {
        {QStringLiteral("CANTORELLA_API_BASE_URL"),
         QStringLiteral("the server's address for lyrics, cards, stories and backups; ") + serverLayers
             + QStringLiteral(CANTORELLA_API_BASE_URL_DEFAULT)},
        {QStringLiteral("CANTORELLA_AUTH_BASE_URL"),
         QStringLiteral("the sign-in service's address (one server answers both); ") + serverLayers
             + QStringLiteral(CANTORELLA_AUTH_BASE_URL_DEFAULT)},
        {QStringLiteral("CANTORELLA_AUTH_ANON_KEY"),
         QStringLiteral("the key the sign-in service accepts from this program (the server's anon-key); ")
             + serverLayers + QStringLiteral("the key built in")},
        {QStringLiteral("CANTORELLA_REDUCE_MOTION"),
         QStringLiteral("1 or 0: fewer animations, or not, whatever the desktop's setting")},
        {QStringLiteral("CANTORELLA_RENDER_PROFILE"),
         QStringLiteral("software or hardware: cap the motion as for a window drawn without a GPU, or not, "
                        "whatever draws it")},
        {QStringLiteral("CANTORELLA_NOWPLAYING_READER"),
         QStringLiteral("the now-playing reader program to run; default: libexec/cantorella/nowplaying-reader "
                        "beside the program's bin/")},
    };
}

QList<Entry> files()
{
    return {
        {QStringLiteral("/etc/xdg/com.cantorella/Cantorella.conf"),
         QStringLiteral("system settings: the [Server] group's CANTORELLA_API_BASE_URL, CANTORELLA_AUTH_BASE_URL and "
                        "CANTORELLA_AUTH_ANON_KEY, below the environment (the server's package writes them for a "
                        "server on this machine)")},
        {QStringLiteral("~/.config/com.cantorella/Cantorella.conf"), QStringLiteral("the user's settings")},
        {QStringLiteral("~/.local/share/com.cantorella.Cantorella/"),
         QStringLiteral("the study library of each account that signed in")},
    };
}

QString listed(const QList<Entry> &entries)
{
    QString text;
    for (const Entry &entry : entries)
        text += QStringLiteral("  %1\n      %2\n").arg(entry.name, entry.help);
    return text;
}

QString roff(const QString &text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\e"));
    if (escaped.startsWith(QLatin1Char('.')) || escaped.startsWith(QLatin1Char('\'')))
        escaped.prepend(QLatin1String("\\&"));
    return escaped;
}

} // namespace

QString helpText()
{
    return QStringLiteral("Usage: cantorella [Qt options, e.g. -platform wayland]\n\n"
                          "Follows the song an MPRIS player plays and shows its synced lyrics and study cards.\n\n"
                          "Environment:\n")
        + listed(variables()) + QStringLiteral("\nFiles:\n") + listed(files());
}

QString manualText()
{
    QString text = QStringLiteral(".SH ENVIRONMENT\n");
    for (const Entry &variable : variables())
        text += QStringLiteral(".TP\n.B %1\n%2\n").arg(variable.name, roff(variable.help));
    text += QStringLiteral(".SH FILES\n");
    for (const Entry &file : files())
        text += QStringLiteral(".TP\n.I %1\n%2\n").arg(file.name, roff(file.help));
    return text;
}

bool printRequestedText(const QStringList &arguments)
{
    QString text;
    if (arguments.contains(QStringLiteral("--help")) || arguments.contains(QStringLiteral("-h")))
        text = helpText();
    else if (arguments.contains(QStringLiteral("--manual-sections")))
        text = manualText();
    else
        return false;
    std::fputs(text.toUtf8().constData(), stdout);
    return true;
}

} // namespace CommandLine
