#pragma once

#include <QByteArray>
#include <QNetworkReply>
#include <QString>

#include <exception>

// The failure of a lyrics lookup, with the Chinese text shown to the user.
class RemoteLyricsError : public std::exception
{
public:
    enum class Kind {
        invalidInput, // blank or over-long input, or the backend rejected the request (400)
        server,       // an unexpected HTTP status (0: the answer was not HTTP)
        transport,    // the transfer failed; carries the network error code
        decode,       // the 200 answer did not decode; the detail is not shown
        notFound,     // the backend has no lyrics for the song
    };

    static RemoteLyricsError invalidInput(const QString &detail);
    static RemoteLyricsError server(int status);
    static RemoteLyricsError transport(QNetworkReply::NetworkError code);
    static RemoteLyricsError decode(const QString &detail);
    static RemoteLyricsError notFound();

    Kind kind() const { return m_kind; }
    // invalidInput and decode: the detail; empty otherwise.
    const QString &detail() const { return m_detail; }
    // server: the HTTP status; 0 otherwise.
    int status() const { return m_status; }
    // transport: the network error code; NoError otherwise.
    QNetworkReply::NetworkError transportCode() const { return m_transportCode; }

    // The user message; what() is the same text (UTF-8), so failure logs show it as well.
    QString errorDescription() const;
    const char *what() const noexcept override { return m_what.constData(); }

    bool operator==(const RemoteLyricsError &other) const
    {
        return m_kind == other.m_kind && m_detail == other.m_detail && m_status == other.m_status
            && m_transportCode == other.m_transportCode;
    }

private:
    explicit RemoteLyricsError(Kind kind);
    void finish();

    Kind m_kind;
    QString m_detail;
    int m_status = 0;
    QNetworkReply::NetworkError m_transportCode = QNetworkReply::NoError;
    QByteArray m_what;
};
