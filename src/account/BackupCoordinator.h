#pragma once

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

#include <qcoro/qcorotask.h>

#include <functional>
#include <memory>

class BackupService;
class BackupSyncProviding;

// The account popover's two commands, backup to the server and restore from it, and the one
// status line they leave behind. One per signed-in user; it lives on the GUI thread.
//
// Neither command throws: every outcome ends in `status`. A command started while another
// runs starts at once (the popover disables both while the status is InProgress). The
// coordinator may be destroyed while a command waits on the network or a hook: the command
// then ends without touching anything.
class BackupCoordinator : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Made for the signed-in user by the application")
    Q_PROPERTY(Status status READ status NOTIFY statusChanged)
    // The stored size the server reported; meaningful with BackupSucceeded, 0 otherwise.
    Q_PROPERTY(qint64 sizeBytes READ sizeBytes NOTIFY statusChanged)
    Q_PROPERTY(QString statusText READ statusText NOTIFY statusChanged)
    Q_PROPERTY(Tone statusTone READ statusTone NOTIFY statusChanged)

public:
    enum class Status {
        BackupSucceeded,  // the upload returned; sizeBytes holds the stored size
        Idle,             // nothing run yet
        InProgress,       // a backup or restore has started
        BackupTooLarge,   // the server refused the upload as too large
        BackupFailed,     // the export or upload failed otherwise
        RestoreSucceeded, // the downloaded backup is the library now
        NoServerBackup,   // the server holds no backup
        RestoreFailed,    // the download or the import failed
        SignedOut,        // the server no longer accepted the sign-in
    };
    Q_ENUM(Status)

    // How the popover colours the status line; the colours themselves are the theme's.
    enum class Tone {
        None,    // no line
        Success, // neon cyan
        Failure, // neon pink
        Neutral, // secondary text
    };
    Q_ENUM(Tone)

    // The popover's status line: empty text and no tone for Idle (no line).
    struct StatusLine
    {
        QString text;
        Tone tone = Tone::None;
    };
    static StatusLine statusLine(Status status, qint64 sizeBytes);

    // An awaited action of the application around a restore.
    using Hook = std::function<QCoro::Task<void>()>;

    // `service` must outlive the coordinator; the provider is shared so that a transfer in
    // flight keeps it alive.
    BackupCoordinator(BackupService *service, std::shared_ptr<BackupSyncProviding> provider,
                      QObject *parent = nullptr);

    Status status() const { return m_status; }
    qint64 sizeBytes() const { return m_sizeBytes; }
    QString statusText() const { return statusLine(m_status, m_sizeBytes).text; }
    Tone statusTone() const { return statusLine(m_status, m_sizeBytes).tone; }

    // Awaited just before a downloaded backup is imported, and after a successful import.
    void setOnRestoreWillImport(Hook hook) { m_onRestoreWillImport = std::move(hook); }
    void setOnRestoreDidSucceed(Hook hook) { m_onRestoreDidSucceed = std::move(hook); }

    // Export, then upload.
    QCoro::Task<void> backup();
    // Download; then, when there is a backup: the will-import hook, the import, and after
    // success the did-succeed hook (the status is RestoreSucceeded while it runs).
    QCoro::Task<void> restore();

    // Start the commands for QML; their outcome is the status.
    Q_INVOKABLE void startBackup();
    Q_INVOKABLE void startRestore();

signals:
    void statusChanged();

private:
    void setStatus(Status status, qint64 sizeBytes = 0);

    BackupService *m_service;
    std::shared_ptr<BackupSyncProviding> m_provider;
    Status m_status = Status::Idle;
    qint64 m_sizeBytes = 0;
    Hook m_onRestoreWillImport;
    Hook m_onRestoreDidSucceed;
};
