// Confirmation e-mails over SMTP, against a mail server on loopback that answers as scripted:
// a link that arrives, with the password entered in its form, confirms the account; a mail
// server that refuses, hangs up or is not there leaves the sign-up answered (awaiting
// confirmation, the link can be sent again) and the log naming neither the address nor the link.
#include "ServerClients.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

namespace {

// A minimal SMTP server: greeting, EHLO/HELO, MAIL, RCPT, DATA, QUIT. Keeps every message it
// accepted.
class FakeSmtpServer : public QObject
{
public:
    enum class Mode { Accept, RefuseRecipient, HangUpAfterGreeting };

    explicit FakeSmtpServer(Mode mode)
        : m_mode(mode)
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection())
                serve(socket);
        });
        m_server.listen(QHostAddress::LocalHost);
    }

    quint16 port() const { return m_server.serverPort(); }
    const QStringList &messages() const { return m_messages; }

private:
    void serve(QTcpSocket *socket)
    {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        socket->write("220 fake.example ESMTP\r\n");
        if (m_mode == Mode::HangUpAfterGreeting) {
            socket->disconnectFromHost();
            return;
        }
        auto inData = std::make_shared<bool>(false);
        auto message = std::make_shared<QByteArray>();
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket, inData, message] {
            while (socket->canReadLine()) {
                const QByteArray line = socket->readLine();
                if (*inData) {
                    if (line == ".\r\n") {
                        *inData = false;
                        m_messages.append(QString::fromUtf8(*message));
                        socket->write("250 queued\r\n");
                    } else {
                        message->append(line.startsWith("..") ? line.mid(1) : line);
                    }
                    continue;
                }
                const QByteArray verb = line.left(4).toUpper();
                if (verb == "EHLO" || verb == "HELO" || verb == "MAIL" || verb == "RSET" || verb == "NOOP")
                    socket->write("250 OK\r\n");
                else if (verb == "RCPT")
                    socket->write(m_mode == Mode::RefuseRecipient ? "550 no such mailbox\r\n" : "250 OK\r\n");
                else if (verb == "DATA") {
                    *inData = true;
                    socket->write("354 end with .\r\n");
                } else if (verb == "QUIT") {
                    socket->write("221 bye\r\n");
                    socket->disconnectFromHost();
                } else
                    socket->write("502 not here\r\n");
            }
        });
    }

    Mode m_mode;
    QTcpServer m_server;
    QStringList m_messages;
};

QString linkIn(const QString &message)
{
    static const QRegularExpression link(QStringLiteral(R"((http://\S+/auth/v1/verify\?\S+))"));
    return link.match(message).captured(1);
}

} // namespace

class TestServerMail : public QObject
{
    Q_OBJECT

private slots:
    void confirmationMail_data()
    {
        QTest::addColumn<int>("mode"); // FakeSmtpServer::Mode, or -1: nothing listens
        QTest::addColumn<bool>("delivered");
        QTest::newRow("delivered") << int(FakeSmtpServer::Mode::Accept) << true;
        QTest::newRow("recipient refused") << int(FakeSmtpServer::Mode::RefuseRecipient) << false;
        QTest::newRow("hangs up after the greeting") << int(FakeSmtpServer::Mode::HangUpAfterGreeting) << false;
        QTest::newRow("nothing listens") << -1 << false;
    }

    void confirmationMail()
    {
        QFETCH(int, mode);
        QFETCH(bool, delivered);
        FakeSmtpServer mail(mode < 0 ? FakeSmtpServer::Mode::Accept : FakeSmtpServer::Mode(mode));
        quint16 port = mail.port();
        if (mode < 0) {
            QTcpServer closed;
            QVERIFY(closed.listen(QHostAddress::LocalHost));
            port = closed.serverPort(); // free once `closed` is gone: nothing answers there
        }
        ServerClients clients({QStringLiteral("--require-confirmation"), QStringLiteral("--smtp-url"),
                               QStringLiteral("smtp://127.0.0.1:%1").arg(port), QStringLiteral("--smtp-from"),
                               QStringLiteral("noreply@example.com")});
        QCOMPARE(clients.start(), QString());
        const QString email = ServerClients::uniqueEmail();

        QElapsedTimer answered;
        answered.start();
        QCOMPARE(TaskRunner::run(clients.auth->signUp(email, QStringLiteral("secret-1"))), false); // awaits the link
        QVERIFY2(answered.elapsed() < 20000, "a failing mail server holds the sign-up up to its time-outs only");

        // The sign-up's own line comes after whatever its delivery logged.
        QVERIFY(clients.server.waitForLog("POST /auth/v1/signup "));
        const QByteArray log = clients.server.log();
        QVERIFY(!log.contains(email.toUtf8()));
        QVERIFY(!log.contains("/auth/v1/verify?"));
        QCOMPARE(log.contains("SMTP delivery failed"), !delivered);
        QCOMPARE(mail.messages().size(), delivered ? 1 : 0);
        if (!delivered)
            return;

        const QString message = mail.messages().constFirst();
        QVERIFY(message.contains(QStringLiteral("To: <%1>").arg(email)));
        QVERIFY2(message.contains(QStringLiteral("输入你注册时设置的密码")), qPrintable(message)); // what the link asks
        const QString link = linkIn(message);
        QVERIFY2(!link.isEmpty(), qPrintable(message));
        QCOMPARE(clients.send("GET", link.mid(clients.server.baseUrl().toString().size())).status, 200);
        QCOMPARE(clients.confirm(link, QStringLiteral("secret-1")).status, 200);
        TaskRunner::run(clients.auth->signIn(email, QStringLiteral("secret-1")));
        QVERIFY(clients.auth->session());
    }
};

QTEST_GUILESS_MAIN(TestServerMail)
#include "tst_servermail.moc"
