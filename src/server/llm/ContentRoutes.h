#pragma once

#include <QString>

#include <functional>
#include <optional>

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

namespace server {

class ContentServices;

// Who is asking: the signed-in user's id, or nothing after the resolver has answered the
// request itself (401).
using UserResolver = std::function<std::optional<QString>(const httplib::Request &, httplib::Response &)>;

// POST /api/cards and POST /api/story. A body larger than the lyrics limit allows (its JSON
// escaping included) is refused with 413 without being parsed.
void mountContentRoutes(httplib::Server &http, ContentServices &services, UserResolver userOf);

} // namespace server
