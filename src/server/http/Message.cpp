#include "server/http/Message.h"

namespace server::http {

bool sameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

std::string Request::header(std::string_view name) const
{
    for (const Header &header : headers) {
        if (sameName(header.name, name))
            return header.value;
    }
    return std::string();
}

bool Request::hasHeader(std::string_view name) const
{
    for (const Header &header : headers) {
        if (sameName(header.name, name))
            return true;
    }
    return false;
}

} // namespace server::http
