#include "server/http/Router.h"

#include <regex>

namespace server::http {

namespace {

// Every path: the route is found in a hash table instead (the library would try each route's
// regular expression in turn on every request).
const std::string anyPath = ".*";

} // namespace

std::string Router::pattern(const std::string &path)
{
    // Routes are exact paths; escape what a regular expression would read specially.
    static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
    return std::regex_replace(path, special, R"(\$&)");
}

void Router::remember(const std::string &method, const std::string &path, Limit limit)
{
    m_limits[{method, path}] = limit;
    m_largest = std::max(m_largest, limit.maxBodyBytes);
}

void Router::add(Handlers &handlers, const std::string &path, Handler handler,
                 httplib::Server &(httplib::Server::*registerWith)(const std::string &, httplib::Server::Handler))
{
    if (handlers.empty()) {
        (m_server.*registerWith)(anyPath, [&handlers](const httplib::Request &request, httplib::Response &response) {
            // The pre-routing handler answered every method and path without a route already.
            const auto found = handlers.find(request.path);
            if (found == handlers.end())
                response.status = 404;
            else
                found->second(request, response);
        });
    }
    handlers.emplace(path, std::move(handler));
}

void Router::get(const std::string &path, Handler handler)
{
    remember("GET", path, Limit{0, false});
    add(m_get, path, std::move(handler), &httplib::Server::Get);
}

void Router::post(const std::string &path, std::size_t maxBodyBytes, Handler handler)
{
    remember("POST", path, Limit{maxBodyBytes, false});
    add(m_post, path, std::move(handler), &httplib::Server::Post);
}

void Router::put(const std::string &path, std::size_t maxBodyBytes, StreamedHandler handler)
{
    remember("PUT", path, Limit{maxBodyBytes, true});
    m_server.Put(pattern(path), std::move(handler));
}

std::optional<Router::Limit> Router::limit(const std::string &method, const std::string &path) const
{
    const auto found = m_limits.find({method, path});
    if (found == m_limits.end())
        return std::nullopt;
    return found->second;
}

bool Router::knows(const std::string &path) const
{
    for (const auto &[key, limit] : m_limits) {
        if (key.second == path)
            return true;
    }
    return false;
}

} // namespace server::http
