#pragma once

// Real playback for the end-to-end tests: the real server (SQLite, seeded with the demo songs), demo songs made with sox and
// mpv with mpv-mpris playing them on the test's session bus, driven and read through playerctl.
// Every process is started here and ended here, by its own handle.

#include "ChildProcess.h"
#include "ItemSearch.h"
#include "ServerProcess.h"

#include <QFile>
#include <QProcess>
#include <QQuickItem>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

namespace demo {

inline const QString readerPath = QStringLiteral(CANTORELLA_BINARY_DIR "/src/app/nowplaying-reader");
inline const QString serverPath = QStringLiteral(CANTORELLA_BINARY_DIR "/src/server/cantorella-server");
// The anonymous key the tests' sign-in clients send (the program's compiled-in default).
inline const QString anonKey = QStringLiteral("local-demo-anon-key");
inline const QString mprisScript = QStringLiteral("/usr/lib/mpv-mpris/mpris.so");

// What is missing to play demo songs ("" when nothing is).
inline QString missingTool()
{
    for (const char *tool : {"mpv", "sox", "playerctl"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            return QString::fromLatin1(tool);
    }
    for (const QString &path : {readerPath, serverPath, mprisScript}) {
        if (!QFile::exists(path))
            return path;
    }
    return {};
}

inline void stopProcess(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(3000))
        process.kill();
    process.waitForFinished(3000);
}

using ::findItem;

// How far the vertical centre of `row` is from the centre of the scrolling `flickable`, or 0 when
// the list rests at one of its ends (a row there cannot be centred).
inline double offCentre(QQuickItem *row, QQuickItem *flickable)
{
    const double contentY = flickable->property("contentY").toDouble();
    const double maxY = std::max(0.0, flickable->property("contentHeight").toDouble() - flickable->height());
    const double off = row->mapToItem(flickable, QPointF(0, 0)).y() + row->height() / 2 - flickable->height() / 2;
    if ((off < 0 && contentY <= 0.5) || (off > 0 && contentY >= maxY - 0.5))
        return 0;
    return off;
}

class Playback
{
public:
    ~Playback()
    {
        stopProcess(m_mpv);
    }

    QUrl base() const { return m_base; }
    QString filePath(const QString &file) const { return m_files.filePath(file); }

    // Starts the server on a free port; its address is base().
    bool startServer(const QStringList &extraArguments = {})
    {
        m_server = std::make_unique<ServerProcess>(ServerProcess::Options{
            serverPath, QString(), QStringList{QStringLiteral("--signups-per-minute"), QStringLiteral("10000")} + extraArguments,
            QString(), anonKey});
        if (!m_server->start().isEmpty())
            return false;
        m_base = m_server->baseUrl();
        return true;
    }

    ServerProcess &server() { return *m_server; }

    // A tagged mono sine of `seconds` in the test's folder.
    bool makeSong(const QString &file, const QString &title, const QString &artist, int seconds)
    {
        QProcess sox;
        ChildProcess::diesWithTest(sox);
        sox.start(QStringLiteral("sox"),
                  {QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("22050"), QStringLiteral("-c"),
                   QStringLiteral("1"), QStringLiteral("--comment"), QStringLiteral("TITLE=") + title,
                   QStringLiteral("--add-comment"), QStringLiteral("ARTIST=") + artist, m_files.filePath(file),
                   QStringLiteral("synth"), QString::number(seconds), QStringLiteral("sine"), QStringLiteral("440"),
                   QStringLiteral("vol"), QStringLiteral("0.3")});
        return sox.waitForFinished(30000) && sox.exitCode() == 0;
    }

    // mpv plays the song (after ending the one it played), silently and without a window.
    bool play(const QString &file)
    {
        stopPlayer();
        m_mpv.setProgram(QStringLiteral("mpv"));
        m_mpv.setArguments({QStringLiteral("--no-config"), QStringLiteral("--script=") + mprisScript,
                            QStringLiteral("--no-video"), QStringLiteral("--ao=null"), QStringLiteral("--no-terminal"),
                            m_files.filePath(file)});
        m_mpv.setStandardOutputFile(QProcess::nullDevice());
        m_mpv.setStandardErrorFile(QProcess::nullDevice());
        ChildProcess::diesWithTest(m_mpv);
        m_mpv.start();
        return m_mpv.waitForStarted(5000);
    }

    void stopPlayer() { stopProcess(m_mpv); }

    // mpv's position in seconds, read over MPRIS.
    static double position()
    {
        QProcess p;
        p.start(QStringLiteral("playerctl"), {QStringLiteral("-p"), QStringLiteral("mpv"), QStringLiteral("position")});
        p.waitForFinished(3000);
        return QString::fromUtf8(p.readAllStandardOutput()).trimmed().toDouble();
    }

    // playerctl with the given arguments, addressed to mpv ("position", "76.5").
    static void control(const QStringList &arguments)
    {
        QProcess p;
        p.start(QStringLiteral("playerctl"), QStringList{QStringLiteral("-p"), QStringLiteral("mpv")} + arguments);
        p.waitForFinished(3000);
    }

private:
    QTemporaryDir m_files;
    std::unique_ptr<ServerProcess> m_server;
    QProcess m_mpv;
    QUrl m_base;
};

} // namespace demo
