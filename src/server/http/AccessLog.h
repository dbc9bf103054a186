#pragma once

#include "server/http/Message.h"

#include <chrono>
#include <string>
#include <string_view>

namespace server::http {

class Router;

// The access log's line of one answer: "GET /api/backup?namespace 200 3ms 1234B". The method
// is printable ASCII cut to a few characters; the target is a known route with the names of
// our own query parameters only, never a value and never client text ("(unknown path)"), so
// that nothing a client sends reaches the log beyond what is safe to show.
std::string accessLine(const Router &router, std::string_view method, std::string_view target, int status,
                       std::chrono::steady_clock::duration elapsed, std::size_t bytes);
// The line of a request that could not be parsed, with a fixed reason ("bad field").
std::string malformedLine(std::string_view reason, int status, std::size_t bytes);

// The method as it may be logged: printable ASCII ('?' for anything else), at most 16 bytes.
std::string printableMethod(std::string_view method);

// The reason phrase of a status code ("OK", "Not Found").
const char *reasonPhrase(int status);

} // namespace server::http
