#pragma once

#include <QByteArray>
#include <QString>

#include <qcoro/qcorotask.h>

#include <exception>
#include <memory>

class CardStore;
class CardStoreActor;
class WallClock;

// A file of the file variants could not be read or written.
class BackupFileError : public std::exception
{
public:
    explicit BackupFileError(QString message);
    QString message() const { return m_message; }
    const char *what() const noexcept override { return m_what.constData(); }

private:
    QString m_message;
    QByteArray m_what;
};

// The backup engine over the signed-in user's library: the library out as one backup
// document (UTF-8 JSON, BackupWriter) and a document back in as the whole library.
// The export runs on the GUI thread from the window's CardStore and never suspends. The import
// (BackupReader into CardStoreActor::replaceLibrary) is read and written on the actor's thread,
// so that the window keeps drawing while a document of hundreds of megabytes is read; the
// window's CardStore takes the new library in when the actor commits.
class BackupService
{
public:
    // `backupNamespace` is kept lower-cased; the application uses "en". `actor` is the
    // background door onto the same store as `cardStore`; without one the service uses the
    // store's background writer, so that the window's writes queue behind a restore.
    BackupService(CardStore *cardStore, const QString &backupNamespace, WallClock *clock = nullptr,
                  std::shared_ptr<CardStoreActor> actor = {});
    ~BackupService();

    QString backupNamespace() const { return m_namespace; }

    // The document of the whole library. Fails with the store's error, or with JsonError for
    // a number that JSON cannot hold (a non-finite line time or offset); never with
    // BackupError.
    QCoro::Task<QByteArray> exportBackup();
    // The same document into the file at `path`, replacing it only once the whole document
    // is written: on any failure the file is as it was and no temporary file is left.
    // Fails as exportBackup() does, or with BackupFileError.
    QCoro::Task<void> exportBackupTo(QString path);

    // Replaces the whole library with the songs the document files under the namespace. A
    // document that cannot be read throws BackupError; a store failure throws the store's
    // error. Either way the library is left as it was (one transaction). Operations handed to
    // the actor earlier land before it, later ones after it. On success it ends once the
    // window's CardStore has taken the new library in (a slice per turn of the event loop). The
    // service may be destroyed while this runs.
    QCoro::Task<void> importBackup(QByteArray document);
    // The document read from a file first; a read failure throws BackupFileError.
    QCoro::Task<void> importBackupFrom(QString path);

    // The build: CANTORELLA_BUILD_NUMBER when configured, else the project version with the git
    // commit built ("0.1+4f2a9c0d1e2b"), or the version alone outside a git checkout.
    static QString appBuild();

private:
    CardStore *m_cardStore; // outlives the service
    QString m_namespace;
    WallClock *m_clock;
    std::shared_ptr<CardStoreActor> m_actor;
};
