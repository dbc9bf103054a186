#include "server/http/Router.h"

namespace server::http {

void Router::add(const std::string &method, const std::string &path, Route route)
{
    m_largest = std::max(m_largest, route.maxBodyBytes);
    m_routes[{method, path}] = std::move(route);
    ++m_paths[path];
}

void Router::get(const std::string &path, Handler handler, QuickHandler quick)
{
    add("GET", path, Route{0, false, std::move(handler), {}, std::move(quick)});
}

void Router::post(const std::string &path, std::size_t maxBodyBytes, Handler handler, QuickHandler quick)
{
    add("POST", path, Route{maxBodyBytes, false, std::move(handler), {}, std::move(quick)});
}

void Router::put(const std::string &path, std::size_t maxBodyBytes, StreamedHandler handler)
{
    add("PUT", path, Route{maxBodyBytes, true, {}, std::move(handler), {}});
}

const Router::Route *Router::find(const std::string &method, const std::string &path) const
{
    // HEAD runs the GET route; the connection sends the answer's head only.
    const auto found = m_routes.find(std::pair{method == "HEAD" ? std::string("GET") : method, path});
    return found == m_routes.end() ? nullptr : &found->second;
}

bool Router::knows(const std::string &path) const
{
    return m_paths.find(path) != m_paths.end();
}

} // namespace server::http
