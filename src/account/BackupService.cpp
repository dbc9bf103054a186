#include "account/BackupService.h"

#include "account/BackupReader.h"
#include "account/BackupWriter.h"
#include "BuildVersion.h"
#include "core/store/CardStore.h"
#include "core/store/CardStoreActor.h"
#include "core/store/StoreContainer.h"
#include "platform/Clock.h"

#include <QFile>
#include <QPointer>
#include <QSaveFile>

BackupFileError::BackupFileError(QString message)
    : m_message(std::move(message))
    , m_what(m_message.toUtf8())
{
}

BackupService::BackupService(CardStore *cardStore, const QString &backupNamespace, WallClock *clock,
                             std::shared_ptr<CardStoreActor> actor)
    : m_cardStore(cardStore)
    , m_namespace(backupNamespace.toLower())
    , m_clock(clock ? clock : WallClock::system())
    , m_actor(actor ? std::move(actor) : cardStore->backgroundWriter())
{
}

BackupService::~BackupService() = default;

QString BackupService::appBuild()
{
    const QString build = QStringLiteral(CANTORELLA_APP_BUILD);
    return build.isEmpty() ? QStringLiteral("unknown") : build;
}

QCoro::Task<QByteArray> BackupService::exportBackup()
{
    BackupWriter::Header header;
    header.exportedAt = m_clock->now().toMSecsSinceEpoch();
    header.appBuild = appBuild().toUtf8();
    header.backupNamespace = m_namespace.toUtf8();
    QByteArray document;
    m_cardStore->readLibrary([&](LibraryRowCursor &cursor) { document = BackupWriter::write(header, cursor); });
    co_return document;
}

QCoro::Task<void> BackupService::exportBackupTo(QString path)
{
    const QByteArray document = co_await exportBackup();
    // Written beside the destination and renamed over it once complete; a failed write
    // removes the temporary file.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(document) != document.size() || !file.commit()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        throw BackupFileError(QStringLiteral("Could not write the backup to %1: %2").arg(path, reason));
    }
}

QCoro::Task<void> BackupService::importBackup(QByteArray document)
{
    // Nothing of the service is touched after the wait: the document and the namespace travel
    // with the job, and the actor lives as long as this task holds it.
    const std::shared_ptr<CardStoreActor> actor = m_actor;
    const QPointer<CardStore> window(m_cardStore);
    LibrarySource source = [document = std::move(document), ns = m_namespace.toUtf8()](LibraryWriter &out) {
        BackupReader::read(document, ns, out);
    };
    co_await actor->replaceLibrary(std::move(source));
    // Done once the window has taken the new library in: its lists show it when this returns.
    if (window)
        co_await window->externalChangesTakenIn();
}

QCoro::Task<void> BackupService::importBackupFrom(QString path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw BackupFileError(QStringLiteral("Could not read the backup %1: %2").arg(path, file.errorString()));
    QByteArray document = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw BackupFileError(QStringLiteral("Could not read the backup %1: %2").arg(path, file.errorString()));
    file.close();
    co_await importBackup(std::move(document));
}
