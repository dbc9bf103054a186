#pragma once

#include "server/store/ServerStore.h"

#include <pqxx/connection>
#include <pqxx/except>

#include <QString>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <vector>

namespace server::pg {

// A bounded pool of libpq connections shared by every request thread. `run` lends one
// connection to a function that performs one transaction on it and maps every database
// failure to StoreError:
// - a pooled connection found broken (the server restarted, an idle time-out) is dropped and
//   the transaction retried once on a fresh one: a broken connection before COMMIT means
//   nothing was committed;
// - serialization failures and deadlocks are retried a few times;
// - a connection lost during COMMIT (outcome unknown) is not retried.
// Messages name the database by its redacted URL, never its password.
class Pool
{
public:
    // `secret` (the password, when the URL has one) is cut out of every message.
    // At most `maxTransfers` of the connections go to backup transfers at once (runTransfer).
    Pool(std::string connectionString, std::string secret, QString redactedUrl, int maxConnections, int maxTransfers);
    ~Pool();

    Pool(const Pool &) = delete;
    Pool &operator=(const Pool &) = delete;

    template<typename F>
    auto run(F &&work) -> decltype(work(std::declval<pqxx::connection &>()))
    {
        for (int attempt = 1;; ++attempt) {
            bool reused = false;
            auto connection = acquire(reused);
            try {
                if constexpr (std::is_void_v<decltype(work(*connection))>) {
                    work(*connection);
                    release(std::move(connection));
                    return;
                } else {
                    auto result = work(*connection);
                    release(std::move(connection));
                    return result;
                }
            } catch (const pqxx::in_doubt_error &error) {
                discard();
                throw failure("the outcome of a transaction is unknown", error);
            } catch (const pqxx::broken_connection &error) {
                discard();
                if (!reused || attempt >= 2)
                    throw failure("the connection to the database broke", error);
            } catch (const pqxx::transaction_rollback &error) {
                release(std::move(connection));
                if (attempt >= kMaxRollbackRetries)
                    throw failure("a transaction kept conflicting with others", error);
            } catch (const pqxx::disk_full &error) {
                release(std::move(connection));
                throw StoreFullError(failure("the database's disk is full", error).what());
            } catch (const pqxx::sql_error &error) {
                release(std::move(connection));
                throw failure("a statement failed", error);
            } catch (const pqxx::failure &error) {
                discard();
                throw failure("the database failed", error);
            } catch (...) {
                // Not a database failure (e.g. StoreError from the work itself): the
                // transaction object has already rolled back, the connection is reusable.
                release(std::move(connection));
                throw;
            }
        }
    }

    // The same for a transfer of a backup document, which may hold its connection for a while:
    // it first waits for one of the transfers' slots, so the other connections stay free for
    // short requests (a sign-in always finds one).
    template<typename F>
    auto runTransfer(F &&work) -> decltype(work(std::declval<pqxx::connection &>()))
    {
        const TransferSlot slot(*this);
        return run(std::forward<F>(work));
    }

private:
    static constexpr int kMaxRollbackRetries = 5;

    class TransferSlot
    {
    public:
        explicit TransferSlot(Pool &pool);
        ~TransferSlot();
        TransferSlot(const TransferSlot &) = delete;
        TransferSlot &operator=(const TransferSlot &) = delete;

    private:
        Pool &m_pool;
    };

    std::unique_ptr<pqxx::connection> acquire(bool &reused);
    void release(std::unique_ptr<pqxx::connection> connection);
    void discard();
    StoreError failure(const char *what, const std::exception &error) const;

    const std::string m_connectionString;
    const std::string m_secret;
    const QString m_redactedUrl;
    const int m_maxConnections;
    std::mutex m_mutex;
    std::condition_variable m_available;
    std::vector<std::unique_ptr<pqxx::connection>> m_idle;
    int m_open = 0;
    const int m_maxTransfers;
    int m_transfers = 0; // under m_mutex
    std::condition_variable m_transferFreed;
};

} // namespace server::pg
