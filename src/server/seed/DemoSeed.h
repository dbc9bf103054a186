#pragma once

#include <QString>

namespace server {

class ServerStore;

// Imports the demo songs of `folder` (layout: demo/songs/README.md) into the content cache as
// the answers of /api/track, /api/cards and /api/story, without expiry. Running it again
// replaces the same entries. Answers the number of songs; throws std::runtime_error when the
// folder breaks the layout (the message names the folder and the file).
int importDemoSongs(ServerStore &store, const QString &folder, qint64 now);

} // namespace server
