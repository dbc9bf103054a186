#include "server/backup/BackupRoutes.h"

#include "server/http/Replies.h"
#include "server/http/Router.h"
#include "server/http/ServerContext.h"

#include "platform/JsonWriter.h"

#include <QDateTime>

#include <cstring>
#include <memory>

namespace server {
namespace {

using Request = http::Request;
using Response = http::Reply;

// Namespaces are short lower-case names ("en").
std::optional<QString> namespaceOf(const Request &request, Response &response)
{
    const std::string value = http::queryValue(request, "namespace").value_or(std::string());
    const bool valid = !value.empty() && value.size() <= 16
        && std::all_of(value.begin(), value.end(), [](char c) { return c >= 'a' && c <= 'z'; });
    if (!valid) {
        http::sendError(response, 400, {{"error", QStringLiteral("namespace is required")}});
        return std::nullopt;
    }
    return QString::fromStdString(value);
}

void upload(ServerContext &context, const Request &request, Response &response, const http::BodyReader &reader)
{
    // Checked before a byte of the body is read: a stranger's upload costs nothing. The unread
    // body makes the connection unusable afterwards.
    const std::optional<QString> user = context.authenticate(request);
    const std::optional<QString> space = user ? namespaceOf(request, response) : std::nullopt;
    if (!user)
        http::sendUnauthorized(response);
    if (!space) {
        response.close = true;
        return;
    }

    const std::size_t limit = context.config.maxBackupBytes;
    const std::optional<std::size_t> declared = http::contentLength(request);
    if (declared && *declared > limit + http::drainBytes) {
        response.close = true;
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
        response.close = true;
        return http::sendError(response, 413, {{"error", QStringLiteral("backup too large")}});
    }
    if (!complete)
        return http::sendError(response, 400, {{"error", QStringLiteral("the upload was cut short")}});
    if (document.empty())
        return http::sendError(response, 400, {{"error", QStringLiteral("the backup is empty")}});

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
    const std::optional<QString> space = namespaceOf(request, response);
    if (!space)
        return;
    std::optional<StoredBackup> stored = context.store.backup(*user, *space);
    if (!stored)
        return http::sendError(response, 404, {{"error", QStringLiteral("no backup")}});
    // Sent from the one copy read from the database, in pieces, never copied again.
    auto document = std::make_shared<std::string>(std::move(stored->document));
    response.status = 200;
    const std::size_t size = document->size();
    response.setStream(size, "application/json", [document, offset = std::size_t(0)](char *buffer, std::size_t capacity) mutable {
        const std::size_t piece = std::min(capacity, document->size() - offset);
        std::memcpy(buffer, document->data() + offset, piece);
        offset += piece;
        return piece;
    });
}

} // namespace

void registerBackupRoutes(http::Router &router, ServerContext &context)
{
    router.put("/api/backup", context.config.maxBackupBytes,
               [&context](const Request &request, Response &response, const http::BodyReader &reader) {
                   upload(context, request, response, reader);
               });
    router.get("/api/backup", [&context](const Request &request, Response &response) { download(context, request, response); });
}

} // namespace server
