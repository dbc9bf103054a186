#pragma once

#include <pqxx/connection>

namespace server::pg {

// Brings the database's tables to the newest schema this server knows, in one transaction under
// a transaction-level advisory lock, so that any number of processes may start at once: the
// first applies the missing steps, the others wait and find nothing left to do. Throws
// StoreError when the database was made by a newer server.
void migrate(pqxx::connection &connection);

} // namespace server::pg
