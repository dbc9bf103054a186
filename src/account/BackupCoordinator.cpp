#include "account/BackupCoordinator.h"

#include "account/BackupService.h"
#include "backend/BackupSyncProviding.h"

#include <QPointer>

namespace {

BackupCoordinator::Status backupFailure(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const BackupSyncError &e) {
        if (e.kind() == BackupSyncError::Kind::unauthorized)
            return BackupCoordinator::Status::SignedOut;
        if (e.kind() == BackupSyncError::Kind::tooLarge)
            return BackupCoordinator::Status::BackupTooLarge;
    } catch (...) {
    }
    return BackupCoordinator::Status::BackupFailed;
}

BackupCoordinator::Status restoreFailure(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const BackupSyncError &e) {
        if (e.kind() == BackupSyncError::Kind::unauthorized)
            return BackupCoordinator::Status::SignedOut;
    } catch (...) {
    }
    return BackupCoordinator::Status::RestoreFailed;
}

} // namespace

BackupCoordinator::BackupCoordinator(BackupService *service, std::shared_ptr<BackupSyncProviding> provider,
                                     QObject *parent)
    : QObject(parent)
    , m_service(service)
    , m_provider(std::move(provider))
{
}

BackupCoordinator::StatusLine BackupCoordinator::statusLine(Status status, qint64 sizeBytes)
{
    switch (status) {
    case Status::BackupSucceeded:
        return {QStringLiteral("备份成功（") + QString::number(sizeBytes) + QStringLiteral(" 字节）"), Tone::Success};
    case Status::Idle: return {};
    case Status::InProgress: return {QStringLiteral("处理中…"), Tone::Neutral};
    case Status::BackupTooLarge: return {QStringLiteral("备份超出服务器限制"), Tone::Failure};
    case Status::BackupFailed: return {QStringLiteral("备份失败，请稍后重试"), Tone::Failure};
    case Status::RestoreSucceeded: return {QStringLiteral("恢复成功"), Tone::Success};
    case Status::NoServerBackup: return {QStringLiteral("服务器上暂无备份"), Tone::Neutral};
    case Status::RestoreFailed: return {QStringLiteral("恢复失败，请稍后重试"), Tone::Failure};
    case Status::SignedOut: return {QStringLiteral("登录已失效，请重新登录"), Tone::Failure};
    }
    return {};
}

void BackupCoordinator::setStatus(Status status, qint64 sizeBytes)
{
    if (status == m_status && sizeBytes == m_sizeBytes)
        return;
    m_status = status;
    m_sizeBytes = sizeBytes;
    emit statusChanged();
}

void BackupCoordinator::startBackup()
{
    // The task runs on by itself; its outcome is the status.
    [[maybe_unused]] QCoro::Task<void> running = backup();
}

void BackupCoordinator::startRestore()
{
    [[maybe_unused]] QCoro::Task<void> running = restore();
}

// After every wait the coordinator may be gone (sign-out, an unauthorized answer tears the
// user's objects down): then the command ends without touching anything.
QCoro::Task<void> BackupCoordinator::backup()
{
    QPointer<BackupCoordinator> self(this);
    setStatus(Status::InProgress);
    std::shared_ptr<BackupSyncProviding> provider = m_provider;
    std::exception_ptr failure;
    qint64 stored = 0;
    try {
        const QByteArray document = co_await m_service->exportBackup();
        if (!self)
            co_return;
        stored = co_await provider->upload(document);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return;
    if (failure)
        setStatus(backupFailure(failure));
    else
        setStatus(Status::BackupSucceeded, stored);
}

QCoro::Task<void> BackupCoordinator::restore()
{
    QPointer<BackupCoordinator> self(this);
    setStatus(Status::InProgress);
    std::shared_ptr<BackupSyncProviding> provider = m_provider;
    std::exception_ptr failure;
    try {
        std::optional<QByteArray> document = co_await provider->download();
        if (!self)
            co_return;
        if (!document) {
            setStatus(Status::NoServerBackup); // no hook runs; the library stays as it is
            co_return;
        }
        if (const Hook willImport = m_onRestoreWillImport) {
            co_await willImport();
            if (!self)
                co_return;
        }
        co_await m_service->importBackup(std::move(*document));
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return;
    if (failure) {
        setStatus(restoreFailure(failure));
        co_return;
    }
    setStatus(Status::RestoreSucceeded);

    if (const Hook didSucceed = m_onRestoreDidSucceed) {
        try {
            co_await didSucceed();
        } catch (...) {
            // The library is restored; a failed reload changes nothing of that.
        }
    }
}
