// The server's log: while many request threads log at once, every line arrives whole and
// stamped, each thread's lines in order; a plain line is written by the time logLine() returns.
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

private slots:
    void manyThreadsLoseNothing()
    {
        QTemporaryDir dir;
        QFile file(dir.filePath("stderr"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        const int savedStderr = ::dup(STDERR_FILENO);
        QVERIFY(::dup2(file.handle(), STDERR_FILENO) >= 0);

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
        logLine(QStringLiteral("stopped \u2026"));
        ::dup2(savedStderr, STDERR_FILENO);
        ::close(savedStderr);
        QFile written(file.fileName());
        QVERIFY(written.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = written.readAll().split('\n');

        QCOMPARE(lines.size(), threads * perThread + 2); // and the empty rest after the last newline
        const QByteArray last = lines[lines.size() - 2];
        QVERIFY2(last.endsWith(" stopped \xE2\x80\xA6"), last.constData());
        const QDateTime stamp = QDateTime::fromString(QString::fromLatin1(last.left(24)), Qt::ISODateWithMs);
        QCOMPARE(stamp.timeSpec(), Qt::UTC);
        QVERIFY(qAbs(stamp.msecsTo(QDateTime::currentDateTimeUtc())) < 60000);
        static const QRegularExpression shape(QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z POST /api/track 200 1ms (\d+):(\d+)B$)"));
        std::vector<int> next(threads, 0);
        for (qsizetype i = 0; i + 2 < lines.size(); ++i) {
            const QRegularExpressionMatch match = shape.match(QString::fromLatin1(lines[i]));
            QVERIFY2(match.hasMatch(), lines[i].constData());
            QCOMPARE(match.captured(2).toInt(), next[std::size_t(match.captured(1).toInt())]++);
        }
    }
};

QTEST_GUILESS_MAIN(TestServerLog)
#include "tst_serverlog.moc"
