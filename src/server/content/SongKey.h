#pragma once

#include <QString>

namespace server {

// The song key of a title and an artist: artist and title trimmed and lower-cased, joined by '|'.
QString songKeyOf(const QString &title, const QString &artist);

} // namespace server
