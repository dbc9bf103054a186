#include "server/store/postgres/PgSchema.h"

#include "server/store/ServerStore.h"

#include <pqxx/transaction>

#include <array>
#include <string>

namespace server::pg {

namespace {

// Held for the migration transaction only; any constant shared by every server build will do.
constexpr long long kMigrationLockKey = 0x43616e746f72656cLL;

// Step N brings the schema from version N to N + 1. Steps are never edited once released;
// changes are new steps.
//
// Times are seconds since 1970 (bigint). Hashes, documents and cached values are bytea so their
// bytes come back exactly as stored. A backup is a header row plus its document in chunks of at
// most a few MiB, so that neither writing nor reading one holds the whole document twice more in
// this process; the header row is written first and serialises concurrent uploads of one backup.
const std::array<const char *, 2> kSteps = {
    R"sql(
CREATE TABLE users (
    id text PRIMARY KEY,
    email text NOT NULL UNIQUE,
    password_hash bytea NOT NULL,
    confirmed boolean NOT NULL,
    created_at bigint NOT NULL
);
CREATE TABLE sign_ins (
    id text PRIMARY KEY,
    user_id text NOT NULL REFERENCES users (id) ON DELETE CASCADE,
    created_at bigint NOT NULL,
    revoked_at bigint
);
CREATE INDEX sign_ins_user ON sign_ins (user_id);
CREATE TABLE refresh_tokens (
    token_hash bytea PRIMARY KEY,
    sign_in_id text NOT NULL REFERENCES sign_ins (id) ON DELETE CASCADE,
    created_at bigint NOT NULL,
    used_at bigint
);
CREATE INDEX refresh_tokens_sign_in ON refresh_tokens (sign_in_id);
CREATE TABLE one_time_tokens (
    token_hash bytea PRIMARY KEY,
    user_id text NOT NULL REFERENCES users (id) ON DELETE CASCADE,
    expires_at bigint NOT NULL
);
CREATE TABLE counters (
    key text NOT NULL,
    window_start bigint NOT NULL,
    expires_at bigint NOT NULL,
    hits bigint NOT NULL,
    PRIMARY KEY (key, window_start)
);
CREATE TABLE backups (
    user_id text NOT NULL REFERENCES users (id) ON DELETE CASCADE,
    namespace text NOT NULL,
    size_bytes bigint NOT NULL,
    chunk_count integer NOT NULL,
    stored_at bigint NOT NULL,
    PRIMARY KEY (user_id, namespace)
);
CREATE TABLE backup_chunks (
    user_id text NOT NULL,
    namespace text NOT NULL,
    seq integer NOT NULL,
    data bytea NOT NULL,
    PRIMARY KEY (user_id, namespace, seq),
    FOREIGN KEY (user_id, namespace) REFERENCES backups (user_id, namespace) ON DELETE CASCADE
);
CREATE TABLE content_cache (
    kind text NOT NULL,
    key text NOT NULL,
    value bytea NOT NULL,
    stored_at bigint NOT NULL,
    expires_at bigint,
    PRIMARY KEY (kind, key)
);
CREATE TABLE claims (
    key text PRIMARY KEY,
    owner text NOT NULL,
    expires_at bigint NOT NULL
);
)sql",
    // A confirmation link carries the password of the sign-up that sent it; seq orders an
    // account's pending sign-ups. Pruning finds ended windows and old tokens by time.
    R"sql(
ALTER TABLE one_time_tokens ADD COLUMN password_hash bytea, ADD COLUMN seq bigserial;
CREATE INDEX one_time_tokens_user ON one_time_tokens (user_id);
CREATE INDEX counters_expires ON counters (expires_at);
CREATE INDEX refresh_tokens_used ON refresh_tokens (created_at) WHERE used_at IS NOT NULL;
)sql",
};

} // namespace

void migrate(pqxx::connection &connection)
{
    pqxx::work tx(connection);
    tx.exec_params("SELECT pg_advisory_xact_lock($1)", kMigrationLockKey);
    tx.exec("CREATE TABLE IF NOT EXISTS cantorella_schema_version (version integer NOT NULL)");
    const auto row = tx.exec1("SELECT coalesce(max(version), 0) FROM cantorella_schema_version");
    const int current = row[0].as<int>();
    const int newest = int(kSteps.size());
    if (current > newest) {
        throw StoreError("the database's schema (version " + std::to_string(current)
                         + ") is newer than this server knows (" + std::to_string(newest) + ")");
    }
    for (int step = current; step < newest; ++step)
        tx.exec(kSteps[step]);
    if (current < newest) {
        tx.exec("DELETE FROM cantorella_schema_version");
        tx.exec_params("INSERT INTO cantorella_schema_version (version) VALUES ($1)", newest);
    }
    tx.commit();
}

} // namespace server::pg
