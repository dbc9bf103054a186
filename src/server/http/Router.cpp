#include "server/http/Router.h"

#include <regex>

namespace server::http {

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

void Router::get(const std::string &path, Handler handler)
{
    remember("GET", path, Limit{0, false});
    m_server.Get(pattern(path), std::move(handler));
}

void Router::post(const std::string &path, std::size_t maxBodyBytes, Handler handler)
{
    remember("POST", path, Limit{maxBodyBytes, false});
    m_server.Post(pattern(path), std::move(handler));
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
