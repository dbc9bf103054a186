// nowplaying-reader: prints what the MPRIS players on the session bus are playing, as one line
// of JSON on standard output, then exits 0:
//   {"t","a","l","d","e","r","ts","b", "dbg…"}  the chosen player (seconds; ts = seconds since
//                                               1970 at which e held; r = 0 unless playing)
//   null                                        no player with a title that is not stopped
//   {"error": "…"}                              the bus could not be asked
// With --watch <milliseconds>, the chosen player's Position is also read again every few
// milliseconds until it moves, for at most that long; the object then has a "watch" member
// (see MprisPlayers::watchPosition).
#include "MprisPlayers.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace {
// The longest watch accepted: the whole read must stay well inside its caller's 5 s watchdog.
constexpr int maxWatchMs = 1500;
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    std::chrono::milliseconds watch{0};
    const QStringList arguments = app.arguments();
    const qsizetype option = arguments.indexOf(QStringLiteral("--watch"));
    if (option > 0) {
        bool ok = false;
        const int ms = arguments.value(option + 1).toInt(&ok);
        if (!ok || ms < 0 || ms > maxWatchMs) {
            std::fprintf(stderr, "usage: nowplaying-reader [--watch <milliseconds, 0…%d>]\n", maxWatchMs);
            return 2;
        }
        watch = std::chrono::milliseconds(ms);
    }
    const QJsonValue result = MprisPlayers::readNowPlaying(QDBusConnection::sessionBus(), watch);
    const QByteArray text = result.isObject()
                                ? QJsonDocument(result.toObject()).toJson(QJsonDocument::Compact)
                                : QByteArrayLiteral("null");
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    std::fputc('\n', stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
