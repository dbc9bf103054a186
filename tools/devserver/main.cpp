// cantorella-devserver: answers the hosted-authentication calls and the four backend calls on
// 127.0.0.1 from the demo content, so the whole program runs on one machine.
//
//   cantorella-devserver [--port N] [--content DIR] [--token-lifetime SECONDS] [--verbose]
//
// Prints "Listening on http://127.0.0.1:<port>" once it accepts connections. Point the
// application at it with CANTORELLA_API_BASE_URL and CANTORELLA_AUTH_BASE_URL set to that address.

#include "DemoContent.h"
#include "DevServer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("cantorella-devserver"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Local stand-in for the Cantorella backend and its sign-in service."));
    parser.addHelpOption();
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("Port on 127.0.0.1 (0: any free port)."),
                                        QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption contentOption(QStringLiteral("content"), QStringLiteral("Folder of demo songs."),
                                           QStringLiteral("DIR"), QStringLiteral(CANTORELLA_DEVSERVER_CONTENT_DIR));
    const QCommandLineOption lifetimeOption(QStringLiteral("token-lifetime"),
                                            QStringLiteral("Seconds an access token stays valid."),
                                            QStringLiteral("SECONDS"), QStringLiteral("3600"));
    const QCommandLineOption verboseOption(QStringLiteral("verbose"), QStringLiteral("Print one line per request."));
    parser.addOptions({portOption, contentOption, lifetimeOption, verboseOption});
    parser.process(app);

    QTextStream err(stderr);
    bool ok = false;
    const uint port = parser.value(portOption).toUInt(&ok);
    if (!ok || port > 65535) {
        err << "cantorella-devserver: --port needs a number from 0 to 65535\n";
        return 2;
    }
    DevServer::Options options;
    options.tokenLifetimeSeconds = parser.value(lifetimeOption).toLongLong(&ok);
    if (!ok || options.tokenLifetimeSeconds <= 0) {
        err << "cantorella-devserver: --token-lifetime needs a positive number of seconds\n";
        return 2;
    }

    QString problem;
    DemoContent content = DemoContent::load(parser.value(contentOption), &problem);
    if (!problem.isEmpty()) {
        err << "cantorella-devserver: " << problem << "\n";
        return 1;
    }
    const qsizetype songCount = content.songs().size();

    DevServer server(std::move(content), options);
    if (!server.listen(quint16(port))) {
        err << "cantorella-devserver: cannot listen on 127.0.0.1:" << port << "\n";
        return 1;
    }
    if (parser.isSet(verboseOption)) {
        QObject::connect(&server, &DevServer::requestHandled, &server,
                         [](const QString &method, const QString &path, int status) {
                             QTextStream(stderr) << method << ' ' << path << " -> " << status << Qt::endl;
                         });
    }

    QTextStream out(stdout);
    out << "Listening on " << server.baseUrl().toString() << Qt::endl;
    err << "cantorella-devserver: " << songCount << " demo songs; access tokens last "
        << options.tokenLifetimeSeconds << " s" << Qt::endl;
    return app.exec();
}
