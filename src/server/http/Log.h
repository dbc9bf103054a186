#pragma once

#include <QString>

#include <string_view>

namespace server {

// One line on standard error, stamped with the UTC time of the call: the server's only log.
// Lines never carry a token, password, e-mail address or request body; callers pass only what
// is safe.
//
// One writer thread writes the lines; callers only append to its buffer. logLine() waits until
// its line is written (so that what a request logs is there by the time its answer is sent);
// logRequestLine(), for the access log's line of every request and for what the I/O threads log,
// does not: the first line after a quiet moment goes out at once, the lines of a busy moment
// together a few milliseconds later (one write call for many lines). No line is ever dropped:
// when the writer falls far behind (standard error blocked), callers wait for it. The lines of
// one thread keep their order.
void logLine(const QString &text);
void logRequestLine(std::string_view utf8);

// Waits until every line logged before the call is written. The process calls it before it
// ends (returning from main does so by itself; std::_Exit does not).
void flushLog();

} // namespace server
