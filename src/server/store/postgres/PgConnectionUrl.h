#pragma once

#include <QString>

#include <string>

namespace server::pg {

// The password of a connection string, decoded as libpq would see it.
std::string passwordIn(const QString &url);

// The connection string with a connect time-out (10 s) unless it names one.
std::string withConnectTimeout(const QString &url);

} // namespace server::pg
