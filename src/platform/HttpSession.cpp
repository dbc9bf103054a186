#include "platform/HttpSession.h"

#include "platform/AsyncSignal.h"
#include "platform/HttpExchange.h"

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

bool isIdempotent(const QByteArray &method)
{
    static const QByteArrayList idempotent{"GET", "HEAD", "OPTIONS", "TRACE", "PUT", "DELETE"};
    return idempotent.contains(method);
}

bool maySendAgainAfterEarlyClose(const QByteArray &method, bool reusedConnection)
{
    return reusedConnection && isIdempotent(method);
}

} // namespace Http

namespace {

using Http::TransportError;

TransportError tooLarge(qint64 limit)
{
    return TransportError(TransportError::Kind::dataLengthExceedsMaximum, QNetworkReply::UnknownContentError,
                          QStringLiteral("the answer is larger than %1 bytes").arg(limit));
}

} // namespace

HttpSession::HttpSession(Configuration configuration)
    : m_configuration(std::move(configuration))
{
}

HttpSession::~HttpSession() = default;

QCoro::Task<Http::Response> HttpSession::send(Http::Request request, CancellationToken token)
{
    token.throwIfCancelled();
    for (const auto &header : m_configuration.defaultHeaders)
        if (!request.header(header.first))
            request.headers.append(header);

    // What ended an exchange besides the exchange itself. The timers and connections that refer
    // to it live in `context` and die with this frame.
    enum class Ending { none, timedOut, cancelled };
    Ending ending = Ending::none;
    QPointer<Http::Exchange> exchange;
    const auto end = [&ending, &exchange](Ending why) {
        if (ending != Ending::none || !exchange || exchange->outcome() != Http::Exchange::Outcome::running)
            return;
        ending = why;
        exchange->abort();
        emit exchange->ended();
    };

    AsyncSignal context;
    QTimer idle(&context);
    idle.setSingleShot(true);
    idle.setInterval(request.timeout);
    QObject::connect(&idle, &QTimer::timeout, &context, [&end] { end(Ending::timedOut); });
    QTimer whole(&context);
    if (m_configuration.resourceTimeout) {
        whole.setSingleShot(true);
        whole.setInterval(*m_configuration.resourceTimeout);
        QObject::connect(&whole, &QTimer::timeout, &context, [&end] { end(Ending::timedOut); });
        whole.start();
    }
    const QMetaObject::Connection cancelled = token.onCancelled(&context, [&end] { end(Ending::cancelled); });

    // A connection that closes before the first byte of an answer is tried once more on a new
    // one when Http::maySendAgainAfterEarlyClose allows it; a second such close is the failure.
    for (int attempt = 1;; ++attempt) {
        auto *current = new Http::Exchange(request, request.maximumAnswerSize);
        exchange = current;
        QObject::connect(current, &Http::Exchange::activity, &context, [&idle] { idle.start(); });
        idle.start();
        current->start();
        if (current->outcome() == Http::Exchange::Outcome::running)
            co_await qCoro(current, &Http::Exchange::ended);
        // Deleted later: this may run inside the exchange's own signal.
        current->deleteLater();
        if (ending != Ending::none || current->outcome() != Http::Exchange::Outcome::failed
            || !current->closedWithoutAnswer() || attempt == 2
            || !Http::maySendAgainAfterEarlyClose(request.method, current->reusedConnection())) {
            break;
        }
    }
    QObject::disconnect(cancelled);
    idle.stop();
    whole.stop();

    switch (ending) {
    case Ending::timedOut:
        throw TransportError(TransportError::Kind::timedOut, QNetworkReply::TimeoutError,
                             QStringLiteral("no data within the time-out"));
    case Ending::cancelled:
        throw CancelledError();
    case Ending::none:
        break;
    }
    switch (exchange->outcome()) {
    case Http::Exchange::Outcome::tooLarge:
        throw tooLarge(request.maximumAnswerSize);
    case Http::Exchange::Outcome::failed:
        throw *exchange->failure();
    case Http::Exchange::Outcome::running:
    case Http::Exchange::Outcome::complete:
        break;
    }
    co_return exchange->takeResponse();
}
