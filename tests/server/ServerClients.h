#pragma once

// The application's own backend clients against a real cantorella-server (ServerProcess): an
// AuthService with an in-memory secret store and a manual clock (set to the real time, so the
// server accepts its tokens; tests move it forward to make the client refresh), and one HTTP
// session for the backend clients. The database is SQLite unless CANTORELLA_TEST_DATABASE=postgresql
// (a fresh database on a PostgreSQL the test starts) or CANTORELLA_TEST_DATABASE_URL
// names a PostgreSQL server.

#include "PgFixture.h"
#include "ServerProcess.h"
#include "TaskRunner.h"

#include "backend/AuthService.h"
#include "backend/RemoteAPIConfig.h"
#include "platform/Clock.h"
#include "platform/HttpSession.h"
#include "platform/SecretStore.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrlQuery>
#include <QUuid>

#include <memory>

struct ServerClients
{
    static QString databaseUrl()
    {
        if (qEnvironmentVariable("CANTORELLA_TEST_DATABASE") == QLatin1String("postgresql"))
            return PgFixture::instance().createDatabase(); // a fresh database on the test's own cluster
        return qEnvironmentVariable("CANTORELLA_TEST_DATABASE_URL");
    }

    ServerProcess server;
    std::shared_ptr<InMemorySecretStore> secrets = std::make_shared<InMemorySecretStore>();
    ManualWallClock clock{QDateTime::currentDateTimeUtc()};
    std::shared_ptr<HttpSession> authHttp = std::make_shared<HttpSession>(AuthService::httpConfiguration());
    HttpSession api{RemoteAPIConfig::sharedSessionConfiguration()};
    std::unique_ptr<AuthService> auth;

    // `executable`: a program that runs the server (given its command line) some other way.
    explicit ServerClients(QStringList arguments = {}, const QString &executable = {}, const QString &anonKey = {})
        : server(ServerProcess::Options{executable.isEmpty() ? QStringLiteral(CANTORELLA_SERVER_BINARY) : executable,
                                        databaseUrl(),
                                        // Every test signs up from 127.0.0.1.
                                        QStringList{QStringLiteral("--signups-per-minute"), QStringLiteral("10000")} + arguments,
                                        QString(), anonKey})
    {
    }

    static bool onPostgres()
    {
        return qEnvironmentVariable("CANTORELLA_TEST_DATABASE") == QLatin1String("postgresql")
            || qEnvironmentVariableIsSet("CANTORELLA_TEST_DATABASE_URL");
    }

    // Starts the server and the sign-in client; the error text, empty when both are up.
    QString start()
    {
        const QString problem = server.start();
        if (problem.isEmpty())
            newDevice();
        return problem;
    }

    // Starts the server with an account signed up on this device that has `backup` stored; the
    // error text, empty when all went well.
    QString startWithBackup(const QByteArray &backup)
    {
        if (const QString problem = start(); !problem.isEmpty())
            return problem;
        signUpNew();
        const int status = send("PUT", QStringLiteral("/api/backup?namespace=en"), backup, {{"Authorization", bearer()}}).status;
        return status == 200 ? QString() : QStringLiteral("the backup was answered %1").arg(status);
    }

    // A fresh AuthService with nothing stored, as on another machine.
    AuthService &newDevice(const QString &anonKey = QString())
    {
        secrets = std::make_shared<InMemorySecretStore>();
        auth = std::make_unique<AuthService>(SupabaseConfig{server.baseUrl(), anonKey.isEmpty() ? server.anonKey() : anonKey},
                                             KeychainStore(QStringLiteral("com.cantorella.Cantorella.auth"),
                                                           QStringLiteral("supabase-session"), secrets),
                                             authHttp, &clock);
        TaskRunner::run(auth->waitForStoredSession());
        return *auth;
    }

    static QString uniqueEmail(const QString &prefix = QStringLiteral("user"))
    {
        return prefix + QLatin1Char('-') + QUuid::createUuid().toString(QUuid::Id128).left(12) + QStringLiteral("@example.com");
    }

    // Signs a new account up on this device; its e-mail.
    QString signUpNew(const QString &password = QStringLiteral("secret-1"))
    {
        const QString email = uniqueEmail();
        TaskRunner::run(auth->signUp(email, password));
        return email;
    }

    // A raw request (no client rules in between): the status and body.
    struct Answer
    {
        int status = 0;
        QByteArray body;
    };
    Answer send(const QByteArray &method, const QString &pathAndQuery, const QByteArray &body = {},
                const QList<std::pair<QByteArray, QByteArray>> &headers = {})
    {
        QNetworkAccessManager manager;
        QNetworkRequest request(QUrl(server.baseUrl().toString() + pathAndQuery));
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
        for (const auto &[name, value] : headers)
            request.setRawHeader(name, value);
        QNetworkReply *reply = manager.sendCustomRequest(request, method, body);
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
        Answer answer{reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll()};
        reply->deleteLater();
        return answer;
    }
    QByteArray bearer() const { return ("Bearer " + auth->session()->accessToken).toUtf8(); }

    // The confirmation form of an e-mail link, sent with `password` as a browser sends it.
    Answer confirm(const QString &link, const QString &password, QList<std::pair<QByteArray, QByteArray>> headers = {})
    {
        const QString token = QUrlQuery(QUrl(link)).queryItemValue(QStringLiteral("token"), QUrl::FullyDecoded);
        headers.append(std::pair<QByteArray, QByteArray>{"Content-Type", "application/x-www-form-urlencoded"});
        return send("POST", QStringLiteral("/auth/v1/verify"),
                    "token=" + QUrl::toPercentEncoding(token) + "&password=" + QUrl::toPercentEncoding(password), headers);
    }
};

// The error of type Error a client call ends with, or nothing when it succeeds; any other
// exception passes through.
template<class Error, class T>
std::optional<Error> clientFailure(QCoro::Task<T> task)
{
    try {
        TaskRunner::run(std::move(task), std::chrono::seconds(20));
    } catch (const Error &error) {
        return error;
    }
    return std::nullopt;
}
