#pragma once

#include "platform/Cancellation.h"

#include <QByteArray>
#include <QList>
#include <QNetworkReply>
#include <QPair>
#include <QString>
#include <QUrl>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <exception>
#include <optional>

namespace Http {

using Headers = QList<QPair<QByteArray, QByteArray>>;
using QueryItems = QList<QPair<QString, QString>>;

// `base` with `path` appended as a path component ("/api/track" on "https://host" gives
// "https://host/api/track": one separator, whether or not base ends in "/"), and the query
// items only when there are any (no bare "?"). A URL that cannot be formed is a programming
// error and stops the process.
QUrl urlByAppending(const QUrl &base, const QString &path, const QueryItems &query = {});

struct Request
{
    QByteArray method = "GET";
    QUrl url;
    Headers headers;
    std::optional<QByteArray> body;
    // The longest wait for the next piece of the exchange (connecting, sending, the answer's
    // headers, each piece of its body). Passing it fails the request with TransportError::timedOut.
    std::chrono::milliseconds timeout{std::chrono::seconds(60)};
    // The largest answer body accepted, in bytes: a larger one, by its Content-Length or as it
    // arrives, is aborted and fails with TransportError::dataLengthExceedsMaximum. The memory an
    // answer takes stays bounded by it. A few MiB is far above any JSON answer of the backend.
    qint64 maximumAnswerSize = 4 * 1024 * 1024;

    // Sets a header, replacing one of the same name (names compare case-insensitively).
    void setHeader(const QByteArray &name, const QByteArray &value);
    std::optional<QByteArray> header(const QByteArray &name) const;
};

struct Response
{
    // The HTTP status; nothing for an answer that is not an HTTP answer.
    std::optional<int> status;
    QByteArray body;
    Headers headers;
};

// The exchange failed below HTTP: no answer, or an answer cut short. An HTTP error status is
// not a TransportError; it comes back as a Response.
class TransportError : public std::exception
{
public:
    enum class Kind {
        timedOut,               // our idle or whole-transfer limit passed
        cannotConnectToHost,    // refused
        cannotFindHost,
        networkConnectionLost,  // the server closed the connection, or the body was cut short
        dataLengthExceedsMaximum, // the answer is larger than the request allows
        notConnectedToInternet,
        secureConnectionFailed,
        cancelled,              // aborted by something other than the caller's token
        other,
    };

    TransportError(Kind kind, QNetworkReply::NetworkError networkError, QString message);

    Kind kind() const { return m_kind; }
    QNetworkReply::NetworkError networkError() const { return m_networkError; }
    const QString &message() const { return m_message; }
    const char *what() const noexcept override { return m_what.constData(); }

private:
    Kind m_kind;
    QNetworkReply::NetworkError m_networkError;
    QString m_message;
    QByteArray m_what;
};

const char *toString(TransportError::Kind kind);

// RFC 9110's idempotent methods: sending one twice has the effect of sending it once.
bool isIdempotent(const QByteArray &method);

// Whether a request whose connection closed before a single byte of an answer came may be sent
// once more. Only a connection kept open from an earlier exchange can have been closed by the
// server as the request went out, without the server acting on it; on a new connection the close
// may come after the server acted. And even then, only a request whose repetition does no harm is
// sent again: a sign-up or an upload reaches the server once.
bool maySendAgainAfterEarlyClose(const QByteArray &method, bool reusedConnection);

} // namespace Http

// Sends HTTP/1.1 requests, each on a connection of its own (Http::Exchange), over TCP or TLS
// (Qt's OpenSSL backend, the system's certificate authorities). Lives on the thread that made
// it (the GUI thread); send() is awaited there.
//
// send() returns the status and body of any HTTP answer, 3xx, 4xx and 5xx included, and throws
// Http::TransportError when no complete answer came, or CancelledError when the caller's token
// fired. An answer is complete only as its own framing says (its declared length, the last
// chunk of a chunked body): a body cut short, however the connection ended, is a lost
// connection. A time-out is told apart from a cancellation: both limits are our own timers.
// Redirects are never followed: a 3xx is an answer like any other, so the request, with its
// credentials, never goes to another address than the one it was made for. Every request says
// "Accept-Encoding: identity": the body is read as sent, never compressed.
class HttpSession
{
public:
    struct Configuration
    {
        // Added to every request that does not set a header of the same name.
        Http::Headers defaultHeaders;
        // The longest a whole exchange may take, on top of each request's idle time-out.
        std::optional<std::chrono::milliseconds> resourceTimeout;
    };

    explicit HttpSession(Configuration configuration = {});
    virtual ~HttpSession();
    HttpSession(const HttpSession &) = delete;
    HttpSession &operator=(const HttpSession &) = delete;

    const Configuration &configuration() const { return m_configuration; }

    // Virtual so that tests can see each request as its client built it.
    virtual QCoro::Task<Http::Response> send(Http::Request request, CancellationToken token = {});

private:
    Configuration m_configuration;
};
