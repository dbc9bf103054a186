#pragma once

#include "backend/CardEvent.h"

#include <QByteArray>
#include <QNetworkReply>
#include <QString>

#include <exception>

// The failure of a cards request, with the Chinese text shown to the user.
class RemoteCardsError : public std::exception
{
public:
    enum class Kind {
        invalidInput, // a required input was blank, or the backend rejected the request (400)
        upstream,     // the card writer failed upstream; the category says how
        server,       // any other HTTP status (0: the answer was not HTTP)
        parse,        // the answer did not decode or held no cards; the detail is not shown
        transport,    // the transfer failed; carries the network error code
    };

    static RemoteCardsError invalidInput(const QString &detail);
    static RemoteCardsError upstream(SSEEvent::ErrorCategory category);
    static RemoteCardsError server(int status);
    static RemoteCardsError parse(const QString &detail);
    static RemoteCardsError transport(QNetworkReply::NetworkError code);

    Kind kind() const { return m_kind; }
    // invalidInput and parse: the detail; empty otherwise.
    const QString &detail() const { return m_detail; }
    // upstream: the category; unknown otherwise.
    SSEEvent::ErrorCategory category() const { return m_category; }
    // server: the HTTP status; 0 otherwise.
    int status() const { return m_status; }
    // transport: the network error code; NoError otherwise.
    QNetworkReply::NetworkError transportCode() const { return m_transportCode; }

    // The user message; what() is the same text (UTF-8), so failure logs show it as well.
    QString errorDescription() const;
    const char *what() const noexcept override { return m_what.constData(); }

    bool operator==(const RemoteCardsError &other) const
    {
        return m_kind == other.m_kind && m_detail == other.m_detail && m_category == other.m_category
            && m_status == other.m_status && m_transportCode == other.m_transportCode;
    }

private:
    explicit RemoteCardsError(Kind kind);

    Kind m_kind;
    QString m_detail;
    SSEEvent::ErrorCategory m_category = SSEEvent::ErrorCategory::unknown;
    int m_status = 0;
    QNetworkReply::NetworkError m_transportCode = QNetworkReply::NoError;
    QByteArray m_what;
};
