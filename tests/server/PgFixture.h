#pragma once

// A real PostgreSQL 15 for the server's tests: one throw-away cluster per test executable,
// started on first use and stopped when the executable ends.
//
// - initdb and pg_ctl from the Debian postgresql-15 package, in a temporary folder under /tmp,
//   listening on 127.0.0.1 only (trust authentication) on a free port, its unix socket inside
//   that folder;
// - PostgreSQL refuses to run as root: then the cluster runs as the unprivileged system user
//   `cantorella-pgtest`, created when missing, and the folder is handed to it;
// - durability is off (fsync, synchronous commit): nothing here outlives the run;
// - a watchdog shell stops the cluster and removes the folder if the test process dies without
//   running its exit handlers (a crash, SIGKILL, a ctest time-out).
//
// Every call to createDatabase() answers the URL of a fresh, empty database.

#include <pqxx/connection>
#include <pqxx/nontransaction>

#include <QString>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

class PgFixture
{
public:
    // The cluster of this executable, started on first use. Throws std::runtime_error with the
    // commands' output when it cannot be started.
    static PgFixture &instance()
    {
        static PgFixture fixture;
        return fixture;
    }

    // A new empty database on the cluster, as a libpq URL.
    QString createDatabase()
    {
        std::lock_guard lock(m_mutex);
        const std::string name = "test_" + std::to_string(::getpid()) + "_" + std::to_string(++m_databases);
        pqxx::connection admin(urlFor("postgres"));
        pqxx::nontransaction tx(admin);
        tx.exec("CREATE DATABASE " + name);
        return QString::fromStdString(urlFor(name));
    }

    int port() const { return m_port; }
    QString logFile() const { return QString::fromStdString(m_folder + "/server.log"); }

    PgFixture(const PgFixture &) = delete;
    PgFixture &operator=(const PgFixture &) = delete;

private:
    static constexpr const char *kBinaries = "/usr/lib/postgresql/15/bin";
    static constexpr const char *kUser = "cantorella-pgtest";
    // runuser and useradd live in sbin, which a test's PATH may lack.
    static constexpr const char *kSearchPath = "PATH=/usr/sbin:/usr/bin:/sbin:/bin:$PATH; ";

    PgFixture()
    {
        char pattern[] = "/tmp/cantorella-pg-XXXXXX";
        if (!::mkdtemp(pattern))
            throw std::runtime_error("cannot create a temporary folder for PostgreSQL");
        m_folder = pattern;
        try {
            start();
        } catch (...) {
            removeFolder();
            throw;
        }
    }

    ~PgFixture()
    {
        run(pgCommand("pg_ctl") + " -D " + m_folder + "/data -m fast -w stop");
        removeFolder();
    }

    void start()
    {
        if (::geteuid() == 0) {
            ensureUser();
            m_asUser = std::string("runuser -u ") + kUser + " -- ";
            check(run("chown " + std::string(kUser) + " " + m_folder + " && chmod 0700 " + m_folder),
                  "hand the folder to " + std::string(kUser));
        }
        check(run(pgCommand("initdb") + " -D " + m_folder + "/data -U postgres -A trust -E UTF8 --locale=C"
                  + " --no-sync --no-instructions"),
              "initdb");
        startWatchdog();
        // A free port can be taken by someone else between the probe and the start: try again.
        for (int attempt = 1;; ++attempt) {
            m_port = freePort();
            const std::string options = "-c listen_addresses=127.0.0.1 -c port=" + std::to_string(m_port)
                + " -c unix_socket_directories=" + m_folder
                + " -c fsync=off -c synchronous_commit=off -c full_page_writes=off -c max_connections=300";
            const int status = run(pgCommand("pg_ctl") + " -D " + m_folder + "/data -l " + m_folder
                                   + "/server.log -w -t 60 -o '" + options + "' start");
            if (status == 0)
                break;
            if (attempt == 3)
                check(status, "pg_ctl start");
        }
        waitUntilReady();
    }

    void waitUntilReady()
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (true) {
            try {
                pqxx::connection probe(urlFor("postgres"));
                return;
            } catch (const std::exception &error) {
                if (std::chrono::steady_clock::now() > deadline)
                    throw std::runtime_error(std::string("PostgreSQL does not accept connections: ") + error.what());
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }

    static void ensureUser()
    {
        if (::getpwnam(kUser))
            return;
        // Another test executable may be creating it at the same moment: look again on failure.
        const int status = std::system((std::string(kSearchPath) + "useradd --system --no-create-home --shell /usr/sbin/nologin "
                                        + std::string(kUser) + " >/dev/null 2>&1")
                                           .c_str());
        if (status != 0 && !::getpwnam(kUser))
            throw std::runtime_error(std::string("cannot create the system user ") + kUser);
    }

    // Stops the cluster and removes the folder once this process is gone, however it ended.
    void startWatchdog() const
    {
        const std::string script = "while kill -0 " + std::to_string(::getpid())
            + " 2>/dev/null; do sleep 1; done; " + pgCommand("pg_ctl") + " -D " + m_folder
            + "/data -m immediate stop; rm -rf " + m_folder;
        run("setsid sh -c '" + script + "' </dev/null >/dev/null 2>&1 &");
    }

    static int freePort()
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
            || ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
            if (fd >= 0)
                ::close(fd);
            throw std::runtime_error("cannot find a free port");
        }
        ::close(fd);
        return ntohs(address.sin_port);
    }

    std::string pgCommand(const char *program) const { return m_asUser + kBinaries + "/" + program; }

    std::string urlFor(const std::string &database) const
    {
        return "postgresql://postgres@127.0.0.1:" + std::to_string(m_port) + "/" + database;
    }

    // Runs a shell command in the folder (the unprivileged user may not enter the current one);
    // its output is appended to commands.log there.
    int run(const std::string &command) const
    {
        const std::string inFolder = kSearchPath + ("cd " + m_folder + " && ");
        const std::string line = command.back() == '&' ? inFolder + command
                                                       : "(" + inFolder + command + ") >>" + m_folder + "/commands.log 2>&1";
        const int status = std::system(line.c_str());
        return status == -1 ? errno : (WIFEXITED(status) ? WEXITSTATUS(status) : 128);
    }

    void check(int status, const std::string &what) const
    {
        if (status == 0)
            return;
        std::ifstream log(m_folder + "/commands.log");
        std::ostringstream text;
        text << log.rdbuf();
        throw std::runtime_error(what + " failed (" + std::to_string(status) + "):\n" + text.str());
    }

    // Best effort: a folder left behind is only litter in the temporary folder.
    void removeFolder() const { [[maybe_unused]] const int status = std::system(("rm -rf " + m_folder).c_str()); }

    std::string m_folder;
    std::string m_asUser;
    int m_port = 0;
    std::mutex m_mutex;
    int m_databases = 0;
};
