#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

// The failure of a story lookup: thrown by the story client and by the stand-by providers that
// answer when no real client is installed. Only `data` carries a message; it is the one text
// this error has. `description()` is for log lines.
class RemoteSongStoryError : public std::exception
{
public:
    enum class Kind {
        server,  // the backend answered with a status other than 200 (401 after the session is cleared)
        data,    // bad input, an undecodable answer or an empty article; the message says which
        network, // the request failed in transport, other than by a time-out
        timeout, // the request timed out
    };

    static RemoteSongStoryError server(int status);
    static RemoteSongStoryError data(const QString &message);
    static RemoteSongStoryError network();
    static RemoteSongStoryError timeout();

    Kind kind() const { return m_kind; }
    // The HTTP status of `server`; 0 for the other kinds.
    int status() const { return m_status; }
    // The message of `data`; empty for the other kinds.
    const QString &message() const { return m_message; }

    // "server(500)", "data(no provider configured)", "network", "timeout".
    QString description() const;
    const char *what() const noexcept override { return m_what.constData(); }

    bool operator==(const RemoteSongStoryError &other) const
    {
        return m_kind == other.m_kind && m_status == other.m_status && m_message == other.m_message;
    }

private:
    RemoteSongStoryError(Kind kind, int status, QString message);

    Kind m_kind;
    int m_status = 0;
    QString m_message;
    QByteArray m_what;
};
