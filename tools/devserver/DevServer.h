#pragma once

#include "DemoContent.h"
#include "HttpFake.h"

#include <QHash>
#include <QObject>

#include <functional>

// The local stand-in for the hosted authentication service and the program's backend, on the
// loopback address only:
//   /auth/v1/signup, /auth/v1/token (password and refresh_token grants), /auth/v1/resend,
//   /auth/v1/logout — accounts in memory; sign-ups are confirmed at once (no e-mail here);
//   POST /api/track, /api/cards, /api/story — answered from the demo content;
//   PUT and GET /api/backup?namespace=en — one backup per user and namespace, in memory.
// Every /api/ call needs "Authorization: Bearer <access token>" with a token this server issued,
// not revoked by a logout and not past its lifetime; anything else gets 401.
class DevServer : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        qint64 tokenLifetimeSeconds = 3600; // access tokens expire after this, so refresh is exercised
        qint64 maximumBackupBytes = 10 * 1024 * 1024;
    };

    DevServer(DemoContent content, Options options, QObject *parent = nullptr);

    bool listen(quint16 port);
    quint16 port() const { return m_http.port(); }
    QUrl baseUrl() const { return m_http.baseUrl(); }

    // Seconds since 1970; replaceable so that expiry can be checked without waiting.
    void setClock(std::function<qint64()> nowSeconds);

signals:
    void requestHandled(const QString &method, const QString &path, int status);

private:
    struct Grant
    {
        QString userId;
        qint64 expiresAt = 0;
    };

    HttpFake::Reply authCall(const HttpFake::Request &request);
    // The user of a valid bearer token, or nothing.
    std::optional<QString> userFor(const HttpFake::Request &request);
    HttpFake::Reply track(const HttpFake::Request &request) const;
    HttpFake::Reply cards(const HttpFake::Request &request) const;
    HttpFake::Reply story(const HttpFake::Request &request) const;
    HttpFake::Reply backup(const HttpFake::Request &request, const QString &userId);
    HttpFake::Reply guarded(const HttpFake::Request &request,
                            const std::function<HttpFake::Reply(const QString &userId)> &answer);
    qint64 now() const;

    HttpFake m_http;
    DemoContent m_content;
    Options m_options;
    std::function<qint64()> m_now;
    QHash<QString, Grant> m_grants;      // issued access token → its user and expiry
    QHash<QString, QByteArray> m_backups; // user id + "/" + namespace → the stored bytes
};
