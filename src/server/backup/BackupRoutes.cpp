#include "server/backup/BackupRoutes.h"

#include "server/http/Replies.h"
#include "server/http/Router.h"
#include "server/http/ServerContext.h"

#include "platform/JsonWriter.h"

#include <QDateTime>

#include <memory>

namespace server {
namespace {

using Request = httplib::Request;
using Response = httplib::Response;

// Namespaces are short lower-case names ("en"), one of the few the server keeps.
std::optional<QString> namespaceOf(const ServerContext &context, const Request &request, Response &response)
{
    const std::string value = http::queryValue(request, "namespace").value_or(std::string());
    const bool valid = !value.empty() && value.size() <= 16
        && std::all_of(value.begin(), value.end(), [](char c) { return c >= 'a' && c <= 'z'; });
    if (!valid) {
        http::sendError(response, 400, {{"error", QStringLiteral("namespace is required")}});
        return std::nullopt;
    }
    if (!context.config.backupNamespaceList().contains(QString::fromStdString(value))) {
        http::sendError(response, 400, {{"error", QStringLiteral("this namespace is not kept here")}});
        return std::nullopt;
    }
    return QString::fromStdString(value);
}

// What the account may still store under `space`: the account's quota less its other backups.
std::size_t roomFor(ServerContext &context, const QString &userId, const QString &space)
{
    const auto others = std::size_t(std::max<qint64>(0, context.store.backupBytes(userId, space)));
    const std::size_t quota = context.config.maxAccountBackupBytes;
    return std::min(context.config.maxBackupBytes, quota > others ? quota - others : 0);
}

void upload(ServerContext &context, const Request &request, Response &response, const httplib::ContentReader &reader)
{
    // Checked before a byte of the body is read: a stranger's upload costs nothing. The unread
    // body makes the connection unusable afterwards.
    const std::optional<QString> user = context.authenticate(request);
    const std::optional<QString> space = user ? namespaceOf(context, request, response) : std::nullopt;
    if (!user)
        http::sendUnauthorized(response);
    if (!space) {
        response.set_header("Connection", "close");
        return;
    }

    const std::size_t limit = roomFor(context, *user, *space);
    const std::optional<std::size_t> declared = http::contentLength(request);
    if (declared && *declared > limit + http::drainBytes) {
        response.set_header("Connection", "close");
        return http::sendError(response, 413, {{"error", QStringLiteral("backup too large")}});
    }
    std::string document;
    if (declared && *declared <= limit)
        document.reserve(*declared);
    // A body over the limit is never kept. A client reads the answer only once it has sent its
    // body, so a body up to drainBytes past the limit is read and dropped to let it see the 413.
    std::size_t received = 0;
    const bool complete = reader([&](const char *data, std::size_t length) {
        received += length;
        if (received > limit) {
            std::string().swap(document);
            return received <= limit + http::drainBytes;
        }
        document.append(data, length);
        return true;
    });
    if (received > limit) {
        response.set_header("Connection", "close");
        return http::sendError(response, 413, {{"error", QStringLiteral("backup too large")}});
    }
    if (!complete)
        return http::sendError(response, 400, {{"error", QStringLiteral("the upload was cut short")}});
    if (document.empty())
        return http::sendError(response, 400, {{"error", QStringLiteral("the backup is empty")}});
    // Another namespace of the account may have grown meanwhile.
    if (document.size() > roomFor(context, *user, *space))
        return http::sendError(response, 413, {{"error", QStringLiteral("backup too large")}});

    const qint64 storedAt = context.now();
    context.store.putBackup(*user, *space, document, storedAt);
    const auto size = qint64(document.size());
    http::sendJson(response, 200, JsonWriter::toBytes([&](JsonWriter &writer) {
                       writer.beginObject()
                           .member("storedAt", QDateTime::fromSecsSinceEpoch(storedAt, Qt::UTC).toString(Qt::ISODate))
                           .member("sizeBytes", size)
                           .endObject();
                   }));
}

void download(ServerContext &context, const Request &request, Response &response)
{
    const std::optional<QString> user = context.authenticate(request);
    if (!user)
        return http::sendUnauthorized(response);
    const std::optional<QString> space = namespaceOf(context, request, response);
    if (!space)
        return;
    std::optional<StoredBackup> stored = context.store.backup(*user, *space);
    if (!stored)
        return http::sendError(response, 404, {{"error", QStringLiteral("no backup")}});
    // Sent from the one copy read from the database, in pieces, never copied again.
    auto document = std::make_shared<std::string>(std::move(stored->document));
    response.status = 200;
    const std::size_t size = document->size();
    response.set_content_provider(size, "application/json",
                                  [document](std::size_t offset, std::size_t length, httplib::DataSink &sink) {
                                      const std::size_t piece = std::min<std::size_t>(length, 1 << 20);
                                      return sink.write(document->data() + offset, piece);
                                  });
}

} // namespace

void registerBackupRoutes(http::Router &router, ServerContext &context)
{
    router.put("/api/backup", context.config.maxBackupBytes,
               [&context](const Request &request, Response &response, const httplib::ContentReader &reader) {
                   upload(context, request, response, reader);
               });
    router.get("/api/backup", [&context](const Request &request, Response &response) { download(context, request, response); });
}

} // namespace server
