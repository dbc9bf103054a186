#include "backend/RemoteAPIConfig.h"

#include "backend/AuthService.h"
#include "backend/ConnectionSettings.h"

#include <QSettings>

#include <QPointer>

namespace RemoteAPIConfig {

QUrl baseURL()
{
    static const QUrl base =
        ConnectionSettings::address("CANTORELLA_API_BASE_URL", CANTORELLA_API_BASE_URL_DEFAULT,
                                    *ConnectionSettings::systemSettings())
            .url;
    return base;
}

HttpSession::Configuration sharedSessionConfiguration()
{
    HttpSession::Configuration configuration;
    configuration.defaultHeaders.append(qMakePair(QByteArray("Accept"), QByteArray("application/json")));
    configuration.resourceTimeout = Timeout::resource;
    return configuration;
}

HttpSession &sharedSession()
{
    // Never destroyed: requests may be under way until the process ends.
    static HttpSession *const session = new HttpSession(sharedSessionConfiguration());
    return *session;
}

QUrl url(const QString &path, const Http::QueryItems &query)
{
    return Http::urlByAppending(baseURL(), path, query);
}

QUrl url(const QUrl &base, const QString &path, const Http::QueryItems &query)
{
    return Http::urlByAppending(base, path, query);
}

QCoro::Task<Http::Response> send(HttpSession *session, AuthService *auth, Http::Request request,
                                 CancellationToken token)
{
    QPointer<AuthService> service = auth;
    std::optional<QString> authorization;
    if (service)
        authorization = co_await service->authorizationHeader();
    token.throwIfCancelled();
    if (authorization)
        request.setHeader("Authorization", authorization->toUtf8());

    Http::Response response = co_await session->send(std::move(request), token);
    if (response.status == 401 && service)
        service->handleUnauthorized(authorization);
    co_return response;
}

} // namespace RemoteAPIConfig
