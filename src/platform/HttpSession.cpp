#include "platform/HttpSession.h"

#include "platform/AsyncSignal.h"

#include <QLoggingCategory>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>
#include <QUrlQuery>

#include <qcoro/qcorosignal.h>

namespace Http {

QUrl urlByAppending(const QUrl &base, const QString &path, const QueryItems &query)
{
    QUrl url = base;
    QString joined = base.path();
    while (joined.endsWith(QLatin1Char('/')))
        joined.chop(1);
    QStringView tail(path);
    while (tail.startsWith(QLatin1Char('/')))
        tail = tail.mid(1);
    joined += QLatin1Char('/') + tail.toString();
    url.setPath(joined);
    if (query.isEmpty()) {
        url.setQuery(QString());
    } else {
        QUrlQuery items;
        for (const auto &item : query)
            items.addQueryItem(QString(item.first).replace(QLatin1Char('&'), QStringLiteral("%26")),
                               QString(item.second).replace(QLatin1Char('&'), QStringLiteral("%26")));
        url.setQuery(items);
    }
    if (!base.isValid() || base.host().isEmpty() || !url.isValid())
        qFatal("cannot form a URL from base \"%s\" and path \"%s\"", qPrintable(base.toString()), qPrintable(path));
    return url;
}

namespace {

bool isHttpOrigin(const QUrl &url)
{
    return url.isValid() && !url.host().isEmpty()
        && (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"));
}

} // namespace

QUrl baseUrlFromEnvironment(const char *variable, const char *compiledDefault)
{
    const QByteArray fromEnvironment = qgetenv(variable);
    if (!fromEnvironment.isEmpty()) {
        const QUrl url(QString::fromUtf8(fromEnvironment), QUrl::StrictMode);
        if (isHttpOrigin(url))
            return url;
        qWarning("Ignoring %s: \"%s\" is not an http(s) address", variable, fromEnvironment.constData());
    }
    const QUrl url(QString::fromUtf8(compiledDefault), QUrl::StrictMode);
    if (!isHttpOrigin(url))
        qFatal("The compiled-in base address \"%s\" is not an http(s) address", compiledDefault);
    return url;
}

void Request::setHeader(const QByteArray &name, const QByteArray &value)
{
    headers.removeIf([&](const auto &h) { return h.first.compare(name, Qt::CaseInsensitive) == 0; });
    headers.append(qMakePair(name, value));
}

std::optional<QByteArray> Request::header(const QByteArray &name) const
{
    for (const auto &h : headers)
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    return std::nullopt;
}

TransportError::TransportError(Kind kind, QNetworkReply::NetworkError networkError, QString message)
    : m_kind(kind)
    , m_networkError(networkError)
    , m_message(std::move(message))
    , m_what(QByteArray(toString(kind)) + ": " + m_message.toUtf8())
{
}

const char *toString(TransportError::Kind kind)
{
    using K = TransportError::Kind;
    switch (kind) {
    case K::timedOut: return "timed out";
    case K::cannotConnectToHost: return "cannot connect to host";
    case K::cannotFindHost: return "cannot find host";
    case K::networkConnectionLost: return "network connection lost";
    case K::dataLengthExceedsMaximum: return "answer too large";
    case K::notConnectedToInternet: return "not connected to the internet";
    case K::secureConnectionFailed: return "secure connection failed";
    case K::cancelled: return "cancelled";
    case K::other: return "transport error";
    }
    return "transport error";
}

} // namespace Http

namespace {

using Http::TransportError;

// Qt reports an HTTP error status through QNetworkReply::error() as well (400 as
// ProtocolInvalidOperationError, 404 as ContentNotFoundError, 5xx as the server errors, …):
// with a status, those are answers. ProtocolUnknownError comes with a 3xx that Qt cannot follow
// (no Location): with a status, that is an answer too. Every other error — the connection
// refused, lost before or after the headers, timed out — means the exchange itself failed.
bool isAnswerWithStatus(QNetworkReply::NetworkError error)
{
    switch (error) {
    case QNetworkReply::ProxyAuthenticationRequiredError:
    case QNetworkReply::ContentAccessDenied:
    case QNetworkReply::ContentOperationNotPermittedError:
    case QNetworkReply::ContentNotFoundError:
    case QNetworkReply::AuthenticationRequiredError:
    case QNetworkReply::ContentConflictError:
    case QNetworkReply::ContentGoneError:
    case QNetworkReply::UnknownContentError:
    case QNetworkReply::ProtocolUnknownError:
    case QNetworkReply::ProtocolInvalidOperationError:
    case QNetworkReply::InternalServerError:
    case QNetworkReply::OperationNotImplementedError:
    case QNetworkReply::ServiceUnavailableError:
    case QNetworkReply::UnknownServerError:
        return true;
    default:
        return false;
    }
}

// The body length the answer declared, when the bytes read are comparable to it: a compressed
// body (which Qt inflates) declares the length of its compressed form, and a 204 or 304 answer
// has no body whatever it declares.
std::optional<qint64> declaredLength(const QNetworkReply *reply)
{
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (!length.isValid() || status == 204 || status == 304 || reply->hasRawHeader("Content-Encoding"))
        return std::nullopt;
    return length.toLongLong();
}

// How far Qt may read an answer ahead of what send() has taken.
constexpr qint64 readAhead = 256 * 1024;

// Appends what the reply holds to `body`, never more than one byte past `limit`; false once the
// body is over the limit. The buffer grows by doubling, but never past that byte either.
bool takeAvailable(QNetworkReply *reply, QByteArray &body, qint64 limit)
{
    const qint64 wanted = std::min(reply->bytesAvailable(), limit + 1 - body.size());
    if (wanted > 0) {
        const qsizetype held = body.size();
        if (held + wanted > body.capacity())
            body.reserve(std::min(std::max(held + wanted, 2 * body.capacity()), limit + 1));
        body.resize(held + wanted);
        body.resize(held + std::max<qint64>(reply->read(body.data() + held, wanted), 0));
    }
    return body.size() <= limit;
}

TransportError tooLarge(qint64 limit)
{
    return TransportError(TransportError::Kind::dataLengthExceedsMaximum, QNetworkReply::UnknownContentError,
                          QStringLiteral("the answer is larger than %1 bytes").arg(limit));
}

TransportError::Kind kindOf(QNetworkReply::NetworkError error)
{
    switch (error) {
    case QNetworkReply::ConnectionRefusedError: return TransportError::Kind::cannotConnectToHost;
    case QNetworkReply::HostNotFoundError: return TransportError::Kind::cannotFindHost;
    case QNetworkReply::RemoteHostClosedError: return TransportError::Kind::networkConnectionLost;
    case QNetworkReply::TimeoutError: return TransportError::Kind::timedOut;
    case QNetworkReply::OperationCanceledError: return TransportError::Kind::cancelled;
    case QNetworkReply::SslHandshakeFailedError: return TransportError::Kind::secureConnectionFailed;
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::BackgroundRequestNotAllowedError: return TransportError::Kind::notConnectedToInternet;
    default: return TransportError::Kind::other;
    }
}

// What ended a request besides Qt itself. Lives in the sending coroutine's frame; the timers
// and connections that refer to it die with it.
struct Watch
{
    enum class Ending { none, timedOut, cancelled, tooLarge };
    Ending ending = Ending::none;
    QPointer<QNetworkReply> reply;

    void end(Ending why)
    {
        if (ending != Ending::none || !reply || reply->isFinished())
            return;
        ending = why;
        reply->abort(); // emits finished at once
    }
};

} // namespace

HttpSession::HttpSession(Configuration configuration)
    : m_configuration(std::move(configuration))
    , m_manager(new QNetworkAccessManager, [](QNetworkAccessManager *manager) { manager->deleteLater(); })
{
    // The manager has no cache and does not wait for a network: a request made while offline
    // fails at once. Replies are deleted by send() itself. Redirects are answers, never followed.
    m_manager->setAutoDeleteReplies(false);
    m_manager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
}

HttpSession::~HttpSession() = default;

QCoro::Task<Http::Response> HttpSession::send(Http::Request request, CancellationToken token)
{
    token.throwIfCancelled();
    const std::shared_ptr<QNetworkAccessManager> manager = m_manager;

    for (const auto &header : m_configuration.defaultHeaders)
        if (!request.header(header.first))
            request.headers.append(header);
    QNetworkRequest networkRequest(request.url);
    networkRequest.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    for (const auto &header : request.headers)
        networkRequest.setRawHeader(header.first, header.second);

    QNetworkReply *reply = request.body ? manager->sendCustomRequest(networkRequest, request.method, *request.body)
                                        : manager->sendCustomRequest(networkRequest, request.method);

    // Qt reads ahead of us without bound while its own queue is busy, so that an endless answer
    // could take gigabytes before the checks below see a byte of it. Its read buffer holds it
    // back. Qt hands the size to the transfer only once the request has started, which for a
    // request with a body happens on the next turn of the event loop: so it is set now, and
    // again on that turn.
    reply->setReadBufferSize(readAhead);
    QMetaObject::invokeMethod(reply, [reply] { reply->setReadBufferSize(readAhead); }, Qt::QueuedConnection);

    Watch watch;
    watch.reply = reply;
    AsyncSignal context; // owns the timers and the observers below
    QTimer idle(&context);
    idle.setSingleShot(true);
    idle.setInterval(request.timeout);
    QObject::connect(&idle, &QTimer::timeout, &context, [&watch] { watch.end(Watch::Ending::timedOut); });
    const auto activity = [&idle] {
        if (idle.isActive())
            idle.start();
    };
    QObject::connect(reply, &QNetworkReply::requestSent, &context, activity);
    QObject::connect(reply, &QNetworkReply::downloadProgress, &context, activity);
    QObject::connect(reply, &QNetworkReply::uploadProgress, &context, activity);

    // The body is taken as it arrives, so that an answer over the limit is stopped before it is
    // held: refused by its declared length when the headers come, or once it grows past it.
    const qint64 limit = request.maximumAnswerSize;
    QByteArray body;
    QObject::connect(reply, &QNetworkReply::metaDataChanged, &context, [&watch, activity, &body, reply, limit] {
        activity();
        const qint64 declared = declaredLength(reply).value_or(0);
        if (declared > limit)
            watch.end(Watch::Ending::tooLarge);
        else
            body.reserve(declared);
    });
    QObject::connect(reply, &QNetworkReply::readyRead, &context, [&watch, activity, &body, reply, limit] {
        activity();
        if (watch.ending != Watch::Ending::none)
            return;
        if (!takeAvailable(reply, body, limit))
            watch.end(Watch::Ending::tooLarge);
    });
    idle.start();

    QTimer whole(&context);
    if (m_configuration.resourceTimeout) {
        whole.setSingleShot(true);
        whole.setInterval(*m_configuration.resourceTimeout);
        QObject::connect(&whole, &QTimer::timeout, &context, [&watch] { watch.end(Watch::Ending::timedOut); });
        whole.start();
    }
    const QMetaObject::Connection cancelled =
        token.onCancelled(&context, [&watch] { watch.end(Watch::Ending::cancelled); });

    if (!reply->isFinished())
        co_await qCoro(reply, &QNetworkReply::finished);

    QObject::disconnect(cancelled);
    idle.stop();
    whole.stop();
    reply->deleteLater();

    switch (watch.ending) {
    case Watch::Ending::timedOut:
        throw TransportError(TransportError::Kind::timedOut, QNetworkReply::TimeoutError,
                             QStringLiteral("no data within the time-out"));
    case Watch::Ending::cancelled:
        throw CancelledError();
    case Watch::Ending::tooLarge:
        throw tooLarge(limit);
    case Watch::Ending::none:
        break;
    }

    // The status first: Qt marks 4xx and 5xx answers as errors too.
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const QNetworkReply::NetworkError error = reply->error();
    if (error != QNetworkReply::NoError && !(status.isValid() && isAnswerWithStatus(error)))
        throw TransportError(kindOf(error), error, reply->errorString());

    if (!takeAvailable(reply, body, limit))
        throw tooLarge(limit);
    // A body shorter than it was declared was cut short, even when the connection closed quietly.
    const std::optional<qint64> declared = declaredLength(reply);
    if (declared && body.size() < *declared)
        throw TransportError(TransportError::Kind::networkConnectionLost, QNetworkReply::RemoteHostClosedError,
                             QStringLiteral("the answer ended after %1 of %2 bytes").arg(body.size()).arg(*declared));

    Http::Response response;
    if (status.isValid())
        response.status = status.toInt();
    response.body = std::move(body);
    for (const auto &pair : reply->rawHeaderPairs())
        response.headers.append(pair);
    co_return response;
}
