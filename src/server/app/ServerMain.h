#pragma once

#include <QStringList>

namespace server {

// The whole program: reads the configuration, opens the store, imports the seed, serves until
// SIGTERM or SIGINT (then finishes the requests in flight, at most 10 s) and answers the exit
// status. The first log line names the address it listens on.
int runServer(const QStringList &arguments);

} // namespace server
