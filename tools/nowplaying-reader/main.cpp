// nowplaying-reader: prints what the MPRIS players on the session bus are playing, as one line
// of JSON on standard output, then exits 0:
//   {"t","a","l","d","e","r","ts","b", "dbg…"}  the chosen player (seconds; ts = seconds since
//                                               1970 at which e held; r = 0 unless playing)
//   null                                        no player with a title that is not stopped
//   {"error": "…"}                              the bus could not be asked
#include "MprisPlayers.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QJsonValue result = MprisPlayers::readNowPlaying(QDBusConnection::sessionBus());
    const QByteArray text = result.isObject()
                                ? QJsonDocument(result.toObject()).toJson(QJsonDocument::Compact)
                                : QByteArrayLiteral("null");
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    std::fputc('\n', stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
