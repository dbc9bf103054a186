#include "backend/RemoteBackupProvider.h"

#include "backend/AuthService.h"
#include "platform/StrictJson.h"

namespace {

// One exchange; every way the transfer itself can fail becomes `transport`.
QCoro::Task<Http::Response> exchange(HttpSession *session, QPointer<AuthService> auth, Http::Request request,
                                     CancellationToken token)
{
    Http::Response response;
    bool failed = false;
    try {
        AuthService *service = auth.data();
        response = co_await RemoteAPIConfig::send(session, service, request, token);
    } catch (const Http::TransportError &) {
        failed = true;
    } catch (const CancelledError &) {
        failed = true;
    }
    if (failed)
        throw BackupSyncError::transport();
    if (!response.status)
        throw BackupSyncError::server(0);
    co_return response;
}

qint64 decodeStoredSize(const QByteArray &bytes)
{
    try {
        const JsonReader reader(StrictJson::parseObject(bytes));
        reader.optionalString(u"storedAt");
        return reader.requireInteger(u"sizeBytes");
    } catch (const JsonError &) {
        throw BackupSyncError::decode();
    }
}

QCoro::Task<qint64> performUpload(HttpSession *session, QPointer<AuthService> auth, QUrl url, QByteArray data,
                                  CancellationToken token)
{
    Http::Request request;
    request.method = "PUT";
    request.url = url;
    request.timeout = RemoteAPIConfig::Timeout::request;
    request.setHeader("Content-Type", "application/json");
    request.body = data;

    const Http::Response response = co_await exchange(session, auth, request, token);
    switch (*response.status) {
    case 200:
        co_return decodeStoredSize(response.body);
    case 401:
        throw BackupSyncError::unauthorized();
    case 413:
        throw BackupSyncError::tooLarge();
    default:
        throw BackupSyncError::server(*response.status);
    }
}

QCoro::Task<std::optional<QByteArray>> performDownload(HttpSession *session, QPointer<AuthService> auth, QUrl url,
                                                       CancellationToken token)
{
    Http::Request request;
    request.method = "GET";
    request.url = url;
    request.timeout = RemoteAPIConfig::Timeout::request;
    request.maximumAnswerSize = RemoteAPIConfig::maximumBackupSize;

    const Http::Response response = co_await exchange(session, auth, request, token);
    switch (*response.status) {
    case 200:
        co_return response.body;
    case 404:
        co_return std::nullopt; // the backend holds no backup
    case 401:
        throw BackupSyncError::unauthorized();
    default:
        throw BackupSyncError::server(*response.status);
    }
}

} // namespace

RemoteBackupProvider::RemoteBackupProvider(HttpSession *session, std::optional<QUrl> baseURLOverride,
                                           AuthService *auth)
    : m_session(session)
    , m_auth(auth)
    , m_url(RemoteAPIConfig::url(baseURLOverride.value_or(RemoteAPIConfig::baseURL()), RemoteAPIConfig::Path::backup,
                                 {{QStringLiteral("namespace"), backupNamespace}}))
{
}

QCoro::Task<qint64> RemoteBackupProvider::upload(QByteArray data, CancellationToken token)
{
    return performUpload(m_session, m_auth, m_url, std::move(data), std::move(token));
}

QCoro::Task<std::optional<QByteArray>> RemoteBackupProvider::download(CancellationToken token)
{
    return performDownload(m_session, m_auth, m_url, std::move(token));
}
