#pragma once

// HTTP/1.1 written by hand on a socket of the test's own: what no well-behaved client sends
// (framing tricks, heads cut short, bytes trickled), and answers read as bytes.

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QList>
#include <QTcpSocket>

#include <memory>
#include <utility>
#include <vector>

namespace RawHttp {

struct Exchange
{
    QByteArray received;
    bool closedByServer = false;
};

// Connects from `from`: every 127.x.y.z address is this machine's, so 127.0.0.2 is another client.
inline bool connect(QTcpSocket &socket, quint16 port, const QHostAddress &from = QHostAddress::LocalHost)
{
    if (from != QHostAddress(QHostAddress::LocalHost) && !socket.bind(from))
        return false;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(5000);
}

// Sends `bytes` on a new connection, then reads until the server closes it (or `waitMs` passes).
inline Exchange exchange(quint16 port, const QByteArray &bytes, int waitMs = 10000,
                         const QHostAddress &from = QHostAddress::LocalHost)
{
    Exchange result;
    QTcpSocket socket;
    if (!connect(socket, port, from))
        return result;
    socket.write(bytes);
    QDeadlineTimer deadline(waitMs);
    while (!deadline.hasExpired() && socket.state() == QAbstractSocket::ConnectedState) {
        socket.waitForReadyRead(100);
        result.received += socket.readAll();
    }
    result.received += socket.readAll();
    result.closedByServer = socket.state() != QAbstractSocket::ConnectedState;
    return result;
}

// Reads from `socket` until what came contains `marker` (or `waitMs` passes); answers what came.
inline QByteArray readUntil(QTcpSocket &socket, const QByteArray &marker, int waitMs = 10000)
{
    QByteArray received = socket.readAll();
    QDeadlineTimer deadline(waitMs);
    while (!received.contains(marker) && !deadline.hasExpired()) {
        socket.waitForReadyRead(100);
        received += socket.readAll();
    }
    return received;
}

// The status codes of every answer in `received`, in order.
inline QList<int> statuses(const QByteArray &received)
{
    QList<int> found;
    for (qsizetype at = received.indexOf("HTTP/1.1 "); at >= 0; at = received.indexOf("HTTP/1.1 ", at + 1))
        found << received.mid(at + 9, 3).toInt();
    return found;
}

// The next whole answer (head, and the body its Content-Length announces) from `pending` and
// what arrives within `waitMs`; empty when none came whole. What follows it stays in `pending`.
inline QByteArray nextAnswer(QTcpSocket &socket, QByteArray &pending, int waitMs = 10000)
{
    QDeadlineTimer deadline(waitMs);
    for (;;) {
        pending += socket.readAll();
        const qsizetype headEnd = pending.indexOf("\r\n\r\n");
        if (headEnd >= 0) {
            const QByteArray head = pending.left(headEnd).toLower();
            const qsizetype lengthAt = head.indexOf("\r\ncontent-length: ");
            const qsizetype size = headEnd + 4
                + (lengthAt < 0 ? 0 : head.mid(lengthAt + 18).split('\r').first().toLongLong());
            if (pending.size() >= size) {
                const QByteArray answer = pending.left(size);
                pending.remove(0, size);
                return answer;
            }
        }
        if (deadline.hasExpired() || socket.state() != QAbstractSocket::ConnectedState)
            return {};
        socket.waitForReadyRead(50);
    }
}

struct Post
{
    quint16 port;
    QByteArray target;
    QList<std::pair<QByteArray, QByteArray>> headers;
    QByteArray body;
};

// Sends each POST on a connection of its own, all of them before reading any answer, as a client
// does that fires them at once; then the status of each (0: none came).
inline QList<int> statusesOfPostsSentTogether(const QList<Post> &posts, int waitMs = 60000)
{
    std::vector<std::unique_ptr<QTcpSocket>> sockets;
    for (const Post &post : posts) {
        QByteArray bytes = "POST " + post.target + " HTTP/1.1\r\nHost: x\r\n";
        for (const auto &[name, value] : post.headers)
            bytes += name + ": " + value + "\r\n";
        sockets.push_back(std::make_unique<QTcpSocket>());
        if (connect(*sockets.back(), post.port))
            sockets.back()->write(bytes + "Content-Length: " + QByteArray::number(post.body.size()) + "\r\n\r\n" + post.body);
    }
    for (const auto &socket : sockets)
        socket->flush();
    QList<int> found;
    const QDeadlineTimer deadline(waitMs);
    for (const auto &socket : sockets) {
        QByteArray pending;
        found << statuses(nextAnswer(*socket, pending, int(qMax<qint64>(1, deadline.remainingTime())))).value(0);
    }
    return found;
}

} // namespace RawHttp
