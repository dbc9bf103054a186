#include "server/http/StrictHead.h"

#include "server/http/Message.h"

#include <boost/beast/http/error.hpp>

namespace server::http {

namespace bhttp = boost::beast::http;

bool isParseError(const boost::beast::error_code &error)
{
    return error.category() == bhttp::make_error_code(bhttp::error::bad_method).category()
        && error != bhttp::error::end_of_stream && error != bhttp::error::partial_message;
}

std::string_view view(boost::beast::string_view text)
{
    return std::string_view(text.data(), text.size());
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

const char *headProblem(const bhttp::request_header<> &head)
{
    if (head.version() != 10 && head.version() != 11)
        return "unsupported version";
    int codings = 0;
    bool length = false;
    for (const auto &field : head) {
        if (field.name() == bhttp::field::transfer_encoding) {
            ++codings;
            if (!sameName(trimmed(view(field.value())), "chunked"))
                return "unknown transfer coding";
        } else if (field.name() == bhttp::field::content_length) {
            length = true;
        }
    }
    if (codings > 1)
        return "repeated transfer coding";
    if (codings > 0 && length)
        return "content length with transfer coding";
    if (codings > 0 && head.version() == 10)
        return "transfer coding in HTTP/1.0";
    return nullptr;
}

} // namespace server::http
