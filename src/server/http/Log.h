#pragma once

#include <QString>

namespace server {

// One line on standard error, stamped with the UTC time: the server's only log. Lines never
// carry a token, password, e-mail address or request body; callers pass only what is safe.
void logLine(const QString &text);

} // namespace server
