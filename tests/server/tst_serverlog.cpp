// The server's log: every line arrives, whole, stamped, each thread's lines in order, while many
// request threads log at once; a plain line is written by the time logLine() returns.
#include "server/http/Log.h"

#include <QDateTime>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

using namespace server;

class TestServerLog : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_savedStderr = -1;

    QByteArray logged() const
    {
        QFile file(m_dir.filePath("stderr"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private slots:
    // Standard error goes to a file for this test.
    void init()
    {
        const int file = ::open(QFile::encodeName(m_dir.filePath("stderr")).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0600);
        QVERIFY(file >= 0);
        m_savedStderr = ::dup(STDERR_FILENO);
        QVERIFY(::dup2(file, STDERR_FILENO) >= 0);
        ::close(file);
    }

    void cleanup()
    {
        flushLog();
        ::dup2(m_savedStderr, STDERR_FILENO);
        ::close(m_savedStderr);
    }

    void plainLineIsWrittenOnReturn()
    {
        logRequestLine("GET /healthz 200 0ms 15B");
        logLine(QStringLiteral("listening on http://127.0.0.1:1 \u2026"));
        const QList<QByteArray> lines = logged().split('\n');
        QCOMPARE(lines.size(), 3); // and the empty rest after the last newline
        QVERIFY(lines[0].endsWith(" GET /healthz 200 0ms 15B"));
        QVERIFY(lines[1].endsWith(" listening on http://127.0.0.1:1 \xE2\x80\xA6"));
        const QDateTime stamp = QDateTime::fromString(QString::fromLatin1(lines[1].left(24)), Qt::ISODateWithMs);
        QVERIFY(stamp.isValid());
        QCOMPARE(stamp.timeSpec(), Qt::UTC);
        QVERIFY(qAbs(stamp.msecsTo(QDateTime::currentDateTimeUtc())) < 5000);
    }

    void manyThreadsLoseNothing()
    {
        constexpr int threads = 16;
        constexpr int perThread = 20000; // well past the writer's batch size
        std::vector<std::thread> loggers;
        for (int t = 0; t < threads; ++t) {
            loggers.emplace_back([t] {
                for (int i = 0; i < perThread; ++i)
                    logRequestLine("POST /api/track 200 1ms " + std::to_string(t) + ":" + std::to_string(i) + "B");
            });
        }
        for (std::thread &logger : loggers)
            logger.join();
        flushLog();

        static const QRegularExpression shape(QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z POST /api/track 200 1ms (\d+):(\d+)B$)"));
        std::vector<int> next(threads, 0);
        const QList<QByteArray> lines = logged().split('\n');
        QCOMPARE(lines.size(), threads * perThread + 1);
        for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
            const QRegularExpressionMatch match = shape.match(QString::fromLatin1(lines[i]));
            QVERIFY2(match.hasMatch(), lines[i].constData());
            const int thread = match.captured(1).toInt();
            QCOMPARE(match.captured(2).toInt(), next[std::size_t(thread)]++);
        }
    }
};

QTEST_GUILESS_MAIN(TestServerLog)
#include "tst_serverlog.moc"
