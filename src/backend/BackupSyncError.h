#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

// The failure of a backup transfer. It has no user message: the backup coordinator maps the
// kinds to the statuses it shows.
class BackupSyncError : public std::exception
{
public:
    enum class Kind {
        server,       // an unexpected HTTP status; 0 when the answer was not HTTP
        unauthorized, // HTTP 401; the session has been cleared already
        tooLarge,     // HTTP 413 on upload
        transport,    // the transfer failed (no connection, time-out, cancellation)
        decode,       // the upload answer did not decode
    };

    static BackupSyncError server(int status) { return BackupSyncError(Kind::server, status); }
    static BackupSyncError unauthorized() { return BackupSyncError(Kind::unauthorized); }
    static BackupSyncError tooLarge() { return BackupSyncError(Kind::tooLarge); }
    static BackupSyncError transport() { return BackupSyncError(Kind::transport); }
    static BackupSyncError decode() { return BackupSyncError(Kind::decode); }

    Kind kind() const { return m_kind; }
    // server: the HTTP status; 0 otherwise.
    int status() const { return m_status; }

    // "server(500)", "unauthorized", … for log lines.
    QString description() const;
    const char *what() const noexcept override { return m_what.constData(); }

    bool operator==(const BackupSyncError &other) const
    {
        return m_kind == other.m_kind && m_status == other.m_status;
    }

private:
    explicit BackupSyncError(Kind kind, int status = 0);

    Kind m_kind;
    int m_status = 0;
    QByteArray m_what;
};
