#include "server/backup/BackupRoutes.h"

#include "server/backup/SpoolFile.h"
#include "server/http/Replies.h"
#include "server/http/Router.h"
#include "server/http/ServerContext.h"

#include "platform/JsonWriter.h"

#include <QDateTime>

#include <memory>

namespace server {
namespace {

using Request = http::Request;
using Response = http::Reply;

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

void upload(ServerContext &context, const Request &request, Response &response, const http::BodyReader &reader)
{
    // Checked before a byte of the body is read: a stranger's upload costs nothing. The unread
    // body makes the connection unusable afterwards.
    const std::optional<QString> user = context.authenticate(request);
    const std::optional<QString> space = user ? namespaceOf(context, request, response) : std::nullopt;
    if (!user)
        http::sendUnauthorized(response);
    if (!space) {
        response.close = true;
        return;
    }

    // A body over the limit (the backup size limit, or what is left of the account's quota) is
    // refused before (by its length) or as soon as it passes the limit (chunked); the connection
    // ends with the answer and the rest is never parsed.
    const std::size_t limit = roomFor(context, *user, *space);
    const std::optional<std::size_t> declared = http::contentLength(request);
    if (declared && *declared > limit) {
        response.close = true;
        return http::sendError(response, 413, {{"error", QStringLiteral("backup too large")}});
    }
    // Written to the spool as it arrives, then into the store in pieces: never whole in memory.
    SpoolFile spool(context.config.dataFolder.toStdString());
    bool tooLarge = false;
    const bool complete = reader([&](const char *data, std::size_t length) {
        tooLarge = spool.size() + length > limit;
        if (tooLarge)
            return false;
        spool.append(data, length);
        return true;
    });
    if (!complete) {
        response.close = true;
        if (tooLarge)
            return http::sendError(response, 413, {{"error", QStringLiteral("backup too large")}});
        return http::sendError(response, 400, {{"error", QStringLiteral("the upload was cut short")}});
    }
    if (spool.size() == 0)
        return http::sendError(response, 400, {{"error", QStringLiteral("the backup is empty")}});
    // Another namespace of the account may have grown meanwhile: the bytes received count.
    if (spool.size() > roomFor(context, *user, *space))
        return http::sendError(response, 413, {{"error", QStringLiteral("backup too large")}});

    const qint64 storedAt = context.now();
    context.store.writeBackup(*user, *space, spool.size(), [&spool](std::size_t offset, char *buffer, std::size_t capacity) {
        return spool.readAt(offset, buffer, capacity);
    }, storedAt);
    const auto size = qint64(spool.size());
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
    // Copied from the store in one snapshot (its transaction over at once), then sent from the
    // spool at the client's pace, in pieces.
    auto spool = std::make_shared<SpoolFile>(context.config.dataFolder.toStdString());
    const std::optional<BackupInfo> stored =
        context.store.readBackup(*user, *space, [&spool](std::size_t offset, const char *data, std::size_t size) {
            spool->writeAt(offset, data, size);
        });
    if (!stored)
        return http::sendError(response, 404, {{"error", QStringLiteral("no backup")}});
    response.status = 200;
    response.setStream(stored->sizeBytes, "application/json", [spool, offset = std::size_t(0)](char *buffer, std::size_t capacity) mutable {
        const std::size_t piece = spool->readAt(offset, buffer, capacity);
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
