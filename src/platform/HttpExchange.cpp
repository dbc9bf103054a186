#include "platform/HttpExchange.h"

#include <QSslSocket>
#include <QTcpSocket>

namespace Http {
namespace {

// The status line and the headers together may not exceed this; nor may one chunk-size line.
constexpr qsizetype maximumHeadBytes = 64 * 1024;
// How far the socket may read ahead of the parser, and how much of a request body it holds.
constexpr qint64 readAhead = 256 * 1024;
constexpr qint64 writeAhead = 256 * 1024;

QByteArray hostHeader(const QUrl &url)
{
    QByteArray host = url.host(QUrl::FullyEncoded).toLatin1();
    if (host.contains(':'))
        host = '[' + host + ']';
    const int defaultPort = url.scheme() == QLatin1String("https") ? 443 : 80;
    if (url.port(defaultPort) != defaultPort)
        host += ':' + QByteArray::number(url.port());
    return host;
}

bool isAllDigits(QByteArrayView text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

Exchange::Exchange(const Request &request, qint64 maximumAnswerSize, QObject *parent)
    : QObject(parent)
    , m_method(request.method)
    , m_body(request.body)
    , m_url(request.url)
    , m_limit(maximumAnswerSize)
{
    QByteArray target = m_url.path(QUrl::FullyEncoded).toLatin1();
    if (target.isEmpty())
        target = "/";
    if (m_url.hasQuery())
        target += '?' + m_url.query(QUrl::FullyEncoded).toLatin1();
    m_head = m_method + ' ' + target + " HTTP/1.1\r\nHost: " + hostHeader(m_url) + "\r\n";
    for (const auto &header : request.headers) {
        const QByteArray name = header.first.toLower();
        if (name == "host" || name == "content-length" || name == "connection" || name == "transfer-encoding"
            || name == "accept-encoding")
            continue; // framing and content coding are ours
        m_head += header.first + ": " + header.second + "\r\n";
    }
    if (m_body)
        m_head += "Content-Length: " + QByteArray::number(m_body->size()) + "\r\n";
    // The body is read as sent: a compressed answer would reach the readers as bytes they cannot read.
    m_head += "Accept-Encoding: identity\r\nConnection: close\r\n\r\n";
}

Exchange::~Exchange()
{
    abort();
}

void Exchange::start()
{
    const bool secure = m_url.scheme() == QLatin1String("https");
    if (secure && !QSslSocket::supportsSsl()) {
        fail(TransportError::Kind::secureConnectionFailed, QNetworkReply::SslHandshakeFailedError,
             QStringLiteral("TLS is not available"));
        return;
    }
    QTcpSocket *socket = secure ? new QSslSocket(this) : new QTcpSocket(this);
    m_socket = socket;
    socket->setReadBufferSize(readAhead);
    connect(socket, &QTcpSocket::bytesWritten, this, [this] {
        emit activity();
        writeBody();
    });
    connect(socket, &QTcpSocket::readyRead, this, &Exchange::readAvailable);
    connect(socket, &QTcpSocket::disconnected, this, &Exchange::connectionClosed);
    connect(socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) { socketFailed(error); });
    const QString host = m_url.host();
    if (secure) {
        auto *ssl = static_cast<QSslSocket *>(socket);
        connect(ssl, &QSslSocket::encrypted, this, &Exchange::sendRequest);
        ssl->connectToHostEncrypted(host, quint16(m_url.port(443)));
    } else {
        connect(socket, &QTcpSocket::connected, this, &Exchange::sendRequest);
        socket->connectToHost(host, quint16(m_url.port(80)));
    }
}

void Exchange::abort()
{
    if (QTcpSocket *socket = m_socket) {
        m_socket = nullptr;
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
}

void Exchange::sendRequest()
{
    if (m_phase != Phase::connecting)
        return;
    m_phase = Phase::statusLine;
    emit activity();
    m_socket->write(m_head);
    writeBody();
}

void Exchange::writeBody()
{
    // In pieces as the connection drains: a large body is not copied into the socket whole.
    if (!m_socket || !m_body || m_phase == Phase::connecting)
        return;
    while (m_bodyWritten < m_body->size() && m_socket->bytesToWrite() < writeAhead) {
        const qsizetype piece = std::min<qsizetype>(m_body->size() - m_bodyWritten, writeAhead);
        m_socket->write(m_body->constData() + m_bodyWritten, piece);
        m_bodyWritten += piece;
    }
}

void Exchange::readAvailable()
{
    if (!m_socket || m_phase == Phase::done)
        return;
    const QByteArray bytes = m_socket->readAll();
    if (bytes.isEmpty())
        return;
    m_answerStarted = true;
    m_in += bytes;
    emit activity();
    parse();
}

std::optional<QByteArray> Exchange::takeLine()
{
    const qsizetype end = m_in.indexOf('\n');
    if (end < 0) {
        if (m_in.size() > maximumHeadBytes)
            fail(TransportError::Kind::other, QNetworkReply::ProtocolFailure, QStringLiteral("a line of the answer is too long"));
        return std::nullopt;
    }
    QByteArray line = m_in.left(end);
    m_in.remove(0, end + 1);
    if (line.endsWith('\r'))
        line.chop(1);
    return line;
}

void Exchange::parse()
{
    while (m_phase != Phase::done) {
        switch (m_phase) {
        case Phase::connecting:
        case Phase::done:
            return;
        case Phase::statusLine:
        case Phase::headers:
        case Phase::chunkSize:
        case Phase::chunkEnd:
        case Phase::trailers: {
            const std::optional<QByteArray> line = takeLine();
            if (!line)
                return;
            if (m_phase == Phase::statusLine || m_phase == Phase::headers) {
                m_headBytes += line->size() + 2;
                if (m_headBytes > maximumHeadBytes) {
                    fail(TransportError::Kind::other, QNetworkReply::ProtocolFailure,
                         QStringLiteral("the answer's headers are too long"));
                    return;
                }
            }
            bool ok = true;
            if (m_phase == Phase::statusLine) {
                ok = parseStatusLine(*line);
            } else if (m_phase == Phase::headers) {
                ok = parseHeaderLine(*line);
            } else if (m_phase == Phase::chunkSize) {
                // "1a;extension=value": the hexadecimal size, extensions ignored.
                const qsizetype extensions = line->indexOf(';');
                const QByteArray size = (extensions < 0 ? *line : line->left(extensions)).trimmed();
                const qint64 chunk = size.size() <= 15 ? size.toLongLong(&ok, 16) : -1;
                ok = ok && chunk >= 0;
                if (ok && chunk > m_limit - m_response.body.size()) {
                    finish(Outcome::tooLarge);
                    return;
                }
                m_remaining = chunk;
                m_phase = chunk == 0 ? Phase::trailers : Phase::chunkData;
            } else if (m_phase == Phase::chunkEnd) {
                ok = line->isEmpty();
                m_phase = Phase::chunkSize;
            } else if (line->isEmpty()) { // the end of the trailer section: the body is complete
                finish(Outcome::complete);
                return;
            }
            if (!ok) {
                fail(TransportError::Kind::other, QNetworkReply::ProtocolFailure,
                     QStringLiteral("the answer is not well-formed HTTP"));
                return;
            }
            break;
        }
        case Phase::fixedBody:
        case Phase::chunkData: {
            const qsizetype take = qsizetype(std::min<qint64>(m_in.size(), m_remaining));
            if (take == 0)
                return;
            if (!appendBody(QByteArrayView(m_in).first(take)))
                return;
            m_in.remove(0, take);
            m_remaining -= take;
            if (m_remaining == 0) {
                if (m_phase == Phase::fixedBody) {
                    finish(Outcome::complete);
                    return;
                }
                m_phase = Phase::chunkEnd;
            }
            break;
        }
        case Phase::untilClose:
            if (m_in.isEmpty() || !appendBody(m_in))
                return;
            m_in.clear();
            return;
        }
    }
}

bool Exchange::parseStatusLine(const QByteArray &line)
{
    // "HTTP/1.1 200 OK"; the reason phrase may be empty or missing.
    if (!line.startsWith("HTTP/1.") || line.size() < 12 || line[8] != ' ' || (line.size() > 12 && line[12] != ' '))
        return false;
    const QByteArrayView code = QByteArrayView(line).sliced(9, 3);
    if (!isAllDigits(code))
        return false;
    m_response.status = code.toInt();
    m_response.headers.clear();
    m_phase = Phase::headers;
    return true;
}

bool Exchange::parseHeaderLine(const QByteArray &line)
{
    if (!line.isEmpty()) {
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            return false;
        m_response.headers.append(qMakePair(line.left(colon).trimmed(), line.mid(colon + 1).trimmed()));
        return true;
    }
    // The end of the headers. An interim answer (100 Continue and the like) is followed by
    // the real one.
    const int status = m_response.status.value_or(0);
    if (status >= 100 && status < 200 && status != 101) {
        m_phase = Phase::statusLine;
        return true;
    }
    startBody();
    return true;
}

void Exchange::startBody()
{
    const int status = m_response.status.value_or(0);
    if (m_method == "HEAD" || status == 204 || status == 304 || (status >= 100 && status < 200)) {
        finish(Outcome::complete);
        return;
    }
    std::optional<QByteArray> transferEncoding;
    std::optional<QByteArray> contentLength;
    for (const auto &header : std::as_const(m_response.headers)) {
        if (header.first.compare("Transfer-Encoding", Qt::CaseInsensitive) == 0)
            transferEncoding = transferEncoding ? *transferEncoding + ", " + header.second : header.second;
        else if (header.first.compare("Content-Length", Qt::CaseInsensitive) == 0) {
            if (contentLength && *contentLength != header.second) {
                fail(TransportError::Kind::other, QNetworkReply::ProtocolFailure,
                     QStringLiteral("the answer declares two lengths"));
                return;
            }
            contentLength = header.second;
        }
    }
    if (transferEncoding) {
        // Chunked when it is the last coding; any other coding runs to the end of the connection.
        const QByteArray last = transferEncoding->split(',').last().trimmed().toLower();
        m_phase = last == "chunked" ? Phase::chunkSize : Phase::untilClose;
        return;
    }
    if (contentLength) {
        bool ok = isAllDigits(*contentLength) && contentLength->size() <= 18;
        const qint64 length = ok ? contentLength->toLongLong(&ok) : -1;
        if (!ok) {
            fail(TransportError::Kind::other, QNetworkReply::ProtocolFailure,
                 QStringLiteral("the answer's length is not a number"));
            return;
        }
        if (length > m_limit) {
            finish(Outcome::tooLarge);
            return;
        }
        m_response.body.reserve(length);
        m_remaining = length;
        if (length == 0)
            finish(Outcome::complete);
        else
            m_phase = Phase::fixedBody;
        return;
    }
    m_phase = Phase::untilClose;
}

bool Exchange::appendBody(QByteArrayView bytes)
{
    if (bytes.size() > m_limit - m_response.body.size()) {
        finish(Outcome::tooLarge);
        return false;
    }
    // Grows by doubling, but never past the limit: the memory an answer takes stays within it.
    QByteArray &body = m_response.body;
    const qsizetype needed = body.size() + bytes.size();
    if (needed > body.capacity())
        body.reserve(qsizetype(std::min<qint64>(std::max<qsizetype>(needed, 2 * body.capacity()), m_limit)));
    body += bytes;
    return true;
}

void Exchange::connectionClosed()
{
    if (m_phase == Phase::done)
        return;
    // Whatever arrived with the close counts.
    if (m_socket && m_socket->bytesAvailable() > 0)
        readAvailable();
    if (m_phase == Phase::done)
        return;
    if (m_phase == Phase::untilClose) {
        finish(Outcome::complete);
        return;
    }
    m_closedWithoutAnswer = !m_answerStarted;
    fail(TransportError::Kind::networkConnectionLost, QNetworkReply::RemoteHostClosedError,
         m_answerStarted ? QStringLiteral("the connection closed before the answer was complete")
                         : QStringLiteral("the connection closed without an answer"));
}

void Exchange::socketFailed(int socketError)
{
    if (m_phase == Phase::done)
        return;
    using K = TransportError::Kind;
    const QString message = m_socket ? m_socket->errorString() : QString();
    switch (QAbstractSocket::SocketError(socketError)) {
    case QAbstractSocket::RemoteHostClosedError:
        connectionClosed();
        return;
    case QAbstractSocket::ConnectionRefusedError:
        fail(K::cannotConnectToHost, QNetworkReply::ConnectionRefusedError, message);
        return;
    case QAbstractSocket::HostNotFoundError:
        fail(K::cannotFindHost, QNetworkReply::HostNotFoundError, message);
        return;
    case QAbstractSocket::SocketTimeoutError:
        fail(K::timedOut, QNetworkReply::TimeoutError, message);
        return;
    case QAbstractSocket::NetworkError:
        // A connection that worked and then failed is lost; one that never came up has no network.
        if (m_phase == Phase::connecting)
            fail(K::notConnectedToInternet, QNetworkReply::TemporaryNetworkFailureError, message);
        else
            fail(K::networkConnectionLost, QNetworkReply::RemoteHostClosedError, message);
        return;
    case QAbstractSocket::SslHandshakeFailedError:
    case QAbstractSocket::SslInternalError:
    case QAbstractSocket::SslInvalidUserDataError:
        fail(K::secureConnectionFailed, QNetworkReply::SslHandshakeFailedError, message);
        return;
    default:
        fail(K::other, QNetworkReply::UnknownNetworkError, message);
        return;
    }
}

void Exchange::fail(TransportError::Kind kind, QNetworkReply::NetworkError code, const QString &message)
{
    m_failure.emplace(kind, code, message);
    finish(Outcome::failed);
}

void Exchange::finish(Outcome outcome)
{
    if (m_phase == Phase::done)
        return;
    m_phase = Phase::done;
    m_outcome = outcome;
    abort();
    emit ended();
}

} // namespace Http

// The meta-object code lives in this object file, so that a program that links none of the
// HTTP client (the server) does not pull it, and Qt Network with it, from the archive.
#include "moc_HttpExchange.cpp"
