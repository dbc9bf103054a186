#pragma once

// A real cantorella-server as a child process for tests: listening on a free loopback port,
// with a data folder of its own (kept across restart() so accounts and backups survive), the
// demo songs seeded. The port comes from its first log line. When the test function that owns
// it fails, the end of its log is printed as it goes.

#include "ChildProcess.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTest>
#include <QTemporaryDir>
#include <QUrl>
#include <QUuid>

#include <csignal>
#include <memory>

class ServerProcess
{
public:
    struct Options
    {
        QString executable;     // the cantorella-server binary
        QString databaseUrl;    // postgresql://…; empty: SQLite in the data folder
        QStringList arguments;  // more flags, e.g. --require-confirmation
        QString dataFolder;     // empty: a temporary folder removed with this object
        QString anonKey;        // empty: the server generates one (anonKey() reads it)
    };

    // The demo songs of the repository.
    static QString demoSongsFolder() { return QDir::cleanPath(QStringLiteral(CANTORELLA_TEST_DATA_DIR "/../../demo/songs")); }

    explicit ServerProcess(Options options)
        : m_options(std::move(options))
    {
        if (m_options.dataFolder.isEmpty()) {
            m_temporary = std::make_unique<QTemporaryDir>();
            m_options.dataFolder = m_temporary->path();
        }
    }
    ~ServerProcess()
    {
        kill();
        if (QTest::currentTestFailed())
            printLogTail();
    }
    ServerProcess(const ServerProcess &) = delete;

    // Starts the server and waits for its address; the error text when it did not come up.
    QString start()
    {
        m_process = std::make_unique<QProcess>();
        m_process->setProcessChannelMode(QProcess::MergedChannels);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // On PostgreSQL the server generates no keys: it needs both given.
        if (!m_options.databaseUrl.isEmpty()) {
            if (m_options.anonKey.isEmpty() && !environment.contains(QStringLiteral("CANTORELLA_ANON_KEY")))
                m_options.anonKey = QStringLiteral("test-anon-key-%1").arg(QUuid::createUuid().toString(QUuid::Id128));
            if (!environment.contains(QStringLiteral("CANTORELLA_JWT_KEY")))
                environment.insert(QStringLiteral("CANTORELLA_JWT_KEY"), m_tokenKey);
        }
        if (!m_options.anonKey.isEmpty())
            environment.insert(QStringLiteral("CANTORELLA_ANON_KEY"), m_options.anonKey);
        m_process->setProcessEnvironment(environment);
        QStringList arguments{QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"), QStringLiteral("--data"),
                              m_options.dataFolder, QStringLiteral("--seed"), demoSongsFolder()};
        if (!m_options.databaseUrl.isEmpty())
            arguments << QStringLiteral("--database") << m_options.databaseUrl;
        // Tests never reach the internet: online lyrics only from a fake the test names.
        if (!m_options.arguments.contains(QStringLiteral("--lrclib-url")))
            arguments << QStringLiteral("--no-online");
        ChildProcess::diesWithTest(*m_process);
        m_process->start(m_options.executable, arguments + m_options.arguments);
        if (!m_process->waitForStarted(5000))
            return QStringLiteral("cannot start %1").arg(m_options.executable);
        static const QRegularExpression listening(QStringLiteral(R"(listening on (http://127\.0\.0\.1:\d+))"));
        // A first start makes its keys and database and seeds them (some twenty fsyncs): on a busy
        // machine that can take many seconds. The bound only catches a server that never comes up.
        const QDeadlineTimer deadline(60000);
        const qsizetype from = m_log.size(); // this run's lines (the log keeps every run's)
        while (!deadline.hasExpired()) {
            m_process->waitForReadyRead(100);
            readOutput();
            const QByteArray lines = m_log.mid(from);
            const QRegularExpressionMatch match = listening.match(QString::fromUtf8(lines));
            // Ready once the seed is in, so that the first request finds the demo songs.
            if (match.hasMatch() && lines.contains("seed: ")) {
                m_baseUrl = QUrl(match.captured(1));
                return QString();
            }
            if (m_process->state() == QProcess::NotRunning)
                return QStringLiteral("the server exited: ") + QString::fromUtf8(m_log);
        }
        return QStringLiteral("the server did not announce its address: ") + QString::fromUtf8(m_log);
    }

    // SIGTERM, then the exit code (-1 when it did not exit within 15 s).
    int stop()
    {
        if (!m_process || m_process->state() == QProcess::NotRunning)
            return m_process ? m_process->exitCode() : -1;
        ::kill(pid_t(m_process->processId()), SIGTERM);
        const bool exited = m_process->waitForFinished(15000);
        readOutput();
        return exited && m_process->exitStatus() == QProcess::NormalExit ? m_process->exitCode() : -1;
    }
    // SIGKILL: no chance to finish anything.
    void kill()
    {
        if (!m_process || m_process->state() == QProcess::NotRunning)
            return;
        ::kill(pid_t(m_process->processId()), SIGKILL);
        m_process->waitForFinished(5000);
        readOutput();
    }
    QString restart()
    {
        stop();
        return start();
    }

    QUrl baseUrl() const { return m_baseUrl; }
    QString dataFolder() const { return m_options.dataFolder; }
    QString databaseUrl() const { return m_options.databaseUrl; }
    qint64 pid() const { return m_process ? m_process->processId() : 0; }
    // The anonymous key the server generated into its data folder.
    QString anonKey() const
    {
        if (!m_options.anonKey.isEmpty())
            return m_options.anonKey;
        if (!m_options.databaseUrl.isEmpty() && qEnvironmentVariableIsSet("CANTORELLA_ANON_KEY"))
            return qEnvironmentVariable("CANTORELLA_ANON_KEY");
        QFile file(QDir(m_options.dataFolder).filePath(QStringLiteral("anon-key")));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll().trimmed()) : QString();
    }
    // The key the server signs access tokens with.
    QString tokenKey() const
    {
        if (!m_options.databaseUrl.isEmpty())
            return qEnvironmentVariableIsSet("CANTORELLA_JWT_KEY") ? qEnvironmentVariable("CANTORELLA_JWT_KEY") : m_tokenKey;
        QFile file(QDir(m_options.dataFolder).filePath(QStringLiteral("token-key")));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll().trimmed()) : QString();
    }
    // Everything the server logged so far.
    QByteArray log()
    {
        readOutput();
        return m_log;
    }

    // Waits until the log from offset `from` on contains `text`; false when `waitMs` passed first.
    bool waitForLog(const QByteArray &text, int waitMs = 20000, qsizetype from = 0)
    {
        const QDeadlineTimer deadline(waitMs);
        while (log().indexOf(text, from) < 0 && !deadline.hasExpired()) {
            if (!m_process || m_process->state() == QProcess::NotRunning)
                break;
            m_process->waitForReadyRead(50);
        }
        return log().indexOf(text, from) >= 0;
    }
    // The last `lines` lines the server logged.
    QByteArray logTail(int lines = 40)
    {
        const QByteArrayList all = log().split('\n');
        return all.mid(qMax<qsizetype>(0, all.size() - 1 - lines)).join('\n');
    }
    void printLogTail() { qWarning("the server's log ends:\n%s", logTail().constData()); }

private:
    void readOutput()
    {
        if (m_process)
            m_log += m_process->readAll();
    }

    Options m_options;
    std::unique_ptr<QTemporaryDir> m_temporary;
    std::unique_ptr<QProcess> m_process;
    QByteArray m_log;
    QUrl m_baseUrl;
    // Kept across restarts, so that tokens stay valid.
    const QString m_tokenKey = QStringLiteral("test-token-key-%1").arg(QUuid::createUuid().toString(QUuid::Id128));
};
