#pragma once

#include "platform/HttpSession.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>

#include <optional>

class QTcpSocket;

namespace Http {

// One HTTP/1.1 exchange on a connection of its own, closed when it ends ("Connection: close"):
// sends the request, reads the answer as it arrives and checks its framing to the last byte.
// An answer is complete only when its framing says so: its declared length read, the
// zero-length chunk (and the trailer section) of a chunked body read, or, for a body with
// neither, the connection closed by the server. Anything else that ends the connection — a
// close or a reset before the declared length, inside a chunk, or before the zero-length chunk —
// is a lost connection, never a complete answer.
//
// Lives on the thread that made it. ended() is emitted once, from inside the socket's signals:
// the owner deletes the exchange later, never from that emission.
class Exchange : public QObject
{
    Q_OBJECT

public:
    enum class Outcome {
        running,
        complete,
        tooLarge,      // the body is, or declares to be, larger than allowed
        failed,        // see failure()
    };

    Exchange(const Request &request, qint64 maximumAnswerSize, QObject *parent = nullptr);
    ~Exchange() override;

    void start();
    // Closes the connection (the server sees the exchange abandoned); no signal follows.
    void abort();

    Outcome outcome() const { return m_outcome; }
    const std::optional<TransportError> &failure() const { return m_failure; }
    // The connection closed before a single byte of an answer came.
    bool closedWithoutAnswer() const { return m_closedWithoutAnswer; }
    // Whether the exchange ran on a connection kept open from an earlier one. Never: each
    // exchange opens its own connection and closes it at the end.
    bool reusedConnection() const { return false; }
    Response takeResponse() { return std::move(m_response); }

signals:
    // Bytes went out or came in: the exchange is alive.
    void activity();
    void ended();

private:
    enum class Phase { connecting, statusLine, headers, fixedBody, chunkSize, chunkData, chunkEnd, trailers, untilClose, done };

    void sendRequest();
    void writeBody();
    void readAvailable();
    void parse();
    bool parseStatusLine(const QByteArray &line);
    bool parseHeaderLine(const QByteArray &line);
    void startBody();
    bool appendBody(QByteArrayView bytes);
    std::optional<QByteArray> takeLine();
    void connectionClosed();
    void socketFailed(int socketError);
    void finish(Outcome outcome);
    void fail(TransportError::Kind kind, QNetworkReply::NetworkError code, const QString &message);

    QByteArray m_method;
    QByteArray m_head;
    std::optional<QByteArray> m_body;
    QUrl m_url;
    qint64 m_limit;
    qsizetype m_bodyWritten = 0;

    QPointer<QTcpSocket> m_socket;
    Phase m_phase = Phase::connecting;
    Outcome m_outcome = Outcome::running;
    QByteArray m_in;          // received, not yet parsed
    qsizetype m_headBytes = 0; // status line and headers so far
    qint64 m_remaining = 0;   // of the declared body or the current chunk
    bool m_answerStarted = false;
    bool m_closedWithoutAnswer = false;
    Response m_response;
    std::optional<TransportError> m_failure;
};

} // namespace Http
