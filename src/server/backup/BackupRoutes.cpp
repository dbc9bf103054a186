#include "server/backup/BackupRoutes.h"

#include "server/backup/AccountTurns.h"
#include "server/backup/HeldVersions.h"
#include "server/backup/SharedSnapshots.h"
#include "server/backup/SpoolBudget.h"
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

// What the backup routes of one server share.
struct Backups
{
    explicit Backups(ServerContext &context)
        : context(context)
        , turns(std::chrono::milliseconds(context.config.writeWaitMs))
        , budget(context.config.maxSpoolBytes, context.config.maxAccountSpoolBytes)
        , snapshots(context.config.dataFolder.toStdString(), budget)
        , held(budget)
    {
    }

    ServerContext &context;
    AccountTurns turns;
    SpoolBudget budget;
    SharedSnapshots snapshots;
    HeldVersions held;
};

std::string backupKey(const QString &user, const QString &space)
{
    return (user + u'/' + space).toStdString();
}

// An upload on its way in: written to the spool as it arrives, stored once whole. Its share of
// the budget is taken before the spool is made and given back as soon as it ends, however it
// ends (stored, refused, or its connection gone).
struct Upload
{
    Upload(const std::string &folder, SpoolBudget::Share share) : share(std::move(share)), spool(folder) {}
    SpoolBudget::Share share;
    SpoolFile spool;
    bool outOfSpace = false;
};

void sendTooLarge(Response &response)
{
    http::sendError(response, 413, {{"error", QStringLiteral("backup too large")}});
}

void sendNoRoom(Response &response)
{
    http::sendError(response, 507, {{"error", QStringLiteral("no room to store this backup now")}});
}

void sendBusy(Response &response)
{
    response.setHeader("Retry-After", "5");
    http::sendError(response, 503, {{"error", QStringLiteral("busy, try again shortly")}});
}

// After a new version of a backup is stored: the version readers still hold is no longer a
// stored backup, and counts toward the budget until they end.
void countHeldVersions(Backups &backups, const QString &user, const QString &space)
{
    const std::string key = backupKey(user, space);
    if (!backups.held.held(key))
        return;
    // Within the account's turn: the version stored now is the one just written. The upload is
    // stored whatever this look meets; the old version then goes uncounted.
    try {
        if (const std::optional<OpenedBackup> current = backups.context.store.openBackup(user, space))
            backups.held.replaced(key, current->info.version);
    } catch (const StoreError &) {
    }
}

// On a worker, once the body is whole: the account's uploads one at a time, and the quota
// checked in the same step as the write.
void store(Backups &backups, const QString &user, const QString &space, Upload &upload, Response &response)
{
    ServerContext &context = backups.context;
    const std::size_t size = upload.spool.size();
    if (size == 0)
        return http::sendError(response, 400, {{"error", QStringLiteral("the backup is empty")}});
    upload.share.settle();
    const AccountTurns::Turn turn(backups.turns, user);
    const qint64 storedAt = context.now();
    bool stored = false;
    try {
        stored = context.store.writeBackup(user, space, size, [&upload](std::size_t offset, char *buffer, std::size_t capacity) {
            return upload.spool.readAt(offset, buffer, capacity);
        }, storedAt, context.config.maxAccountBackupBytes);
    } catch (const StoreFullError &) {
        return sendNoRoom(response);
    }
    if (!stored) // another namespace of the account grew meanwhile
        return sendTooLarge(response);
    countHeldVersions(backups, user, space);
    http::sendJson(response, 200, JsonWriter::toBytes([&](JsonWriter &writer) {
                       writer.beginObject()
                           .member("storedAt", QDateTime::fromSecsSinceEpoch(storedAt, Qt::UTC).toString(Qt::ISODate))
                           .member("sizeBytes", qint64(size))
                           .endObject();
                   }));
}

void upload(Backups &backups, const Request &request, Response &response, http::BodyIntake &intake)
{
    ServerContext &context = backups.context;
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
        return sendTooLarge(response);
    }
    // Its room is taken before its body is read: what it declares, or the most it may send.
    SpoolBudget::Share share;
    try {
        share = backups.budget.take(*user, declared.value_or(limit));
    } catch (const AccountSpoolFullError &) {
        response.close = true;
        return sendNoRoom(response);
    } catch (const SpoolFullError &) {
        response.close = true;
        return sendBusy(response);
    }
    std::shared_ptr<Upload> upload;
    try {
        upload = std::make_shared<Upload>(context.config.dataFolder.toStdString(), std::move(share));
    } catch (const std::system_error &error) {
        if (!isOutOfSpace(error))
            throw;
        response.close = true;
        return sendNoRoom(response);
    }
    // The body goes to the spool on the I/O side at the client's pace; no worker waits for it.
    intake.limit = limit;
    intake.write = [upload](const char *data, std::size_t size) {
        try {
            upload->spool.append(data, size);
            return true;
        } catch (const std::system_error &error) {
            upload->outOfSpace = isOutOfSpace(error);
            return false;
        }
    };
    intake.refusal = [upload](bool tooLarge) {
        Response refusal;
        if (tooLarge)
            sendTooLarge(refusal);
        else if (upload->outOfSpace)
            sendNoRoom(refusal);
        else
            http::sendError(refusal, 500, {{"error", QStringLiteral("internal error")}});
        return refusal;
    };
    intake.finish = [&backups, user = *user, space = *space, upload](Response &reply) {
        store(backups, user, space, *upload, reply);
        // Before the answer leaves: a client that sends its next upload once answered finds
        // the room free (the spool file itself goes a moment later, with the intake).
        upload->share.release();
    };
}

void download(Backups &backups, const Request &request, Response &response)
{
    ServerContext &context = backups.context;
    const std::optional<QString> user = context.authenticate(request);
    if (!user)
        return http::sendUnauthorized(response);
    const std::optional<QString> space = namespaceOf(context, request, response);
    if (!space)
        return;
    std::optional<OpenedBackup> opened = context.store.openBackup(*user, *space);
    if (!opened)
        return http::sendError(response, 404, {{"error", QStringLiteral("no backup")}});
    // Sent at the client's pace from what the store lends, or else from one copy per version
    // that every reader of it shares (its transaction over at once).
    const std::string key = backupKey(*user, *space);
    std::shared_ptr<const BackupBytes> bytes = opened->bytes;
    BackupInfo info = opened->info;
    if (bytes) {
        bytes = backups.held.lend(key, *user, info, std::move(bytes));
    } else {
        try {
            bytes = backups.snapshots.share(key, *user, opened->info,
                                            [&](const BackupSink &sink) { return context.store.readBackup(*user, *space, sink); },
                                            info);
        } catch (const SpoolFullError &) {
            return sendBusy(response);
        }
        if (!bytes)
            return http::sendError(response, 404, {{"error", QStringLiteral("no backup")}});
    }
    response.status = 200;
    response.setStream(info.sizeBytes, "application/json", [bytes, offset = std::size_t(0)](char *buffer, std::size_t capacity) mutable {
        const std::size_t piece = bytes->readAt(offset, buffer, capacity);
        offset += piece;
        return piece;
    });
}

} // namespace

void registerBackupRoutes(http::Router &router, ServerContext &context)
{
    const auto backups = std::make_shared<Backups>(context);
    router.put("/api/backup", context.config.maxBackupBytes,
               [backups](const Request &request, Response &response, http::BodyIntake &intake) {
                   upload(*backups, request, response, intake);
               });
    router.get("/api/backup", [backups](const Request &request, Response &response) { download(*backups, request, response); });
}

} // namespace server
