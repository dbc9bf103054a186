#include "server/http/StrictHead.h"

#include "server/http/Message.h"

#include <boost/beast/http/error.hpp>

namespace server::http {

namespace bhttp = boost::beast::http;

namespace {

struct ExtensionCheck
{
    void operator()(std::uint64_t, boost::beast::string_view extensions, boost::beast::error_code &error) const
    {
        for (const char c : extensions) {
            const auto byte = static_cast<unsigned char>(c);
            if ((byte < 0x20 && byte != '\t') || byte == 0x7F) {
                error = bhttp::error::bad_chunk_extension;
                return;
            }
        }
    }
};
// The parser keeps a reference to its callback; this one has no state, so all share it.
ExtensionCheck extensionCheck;

} // namespace

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
    int hosts = 0;
    bool length = false;
    for (const auto &field : head) {
        if (field.name() == bhttp::field::host) {
            ++hosts;
        } else if (field.name() == bhttp::field::transfer_encoding) {
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
    if (hosts > 1)
        return "repeated host";
    if (hosts == 0 && head.version() == 11)
        return "no host";
    return nullptr;
}

std::string originForm(std::string_view target)
{
    const std::size_t scheme = target.find("://");
    if (scheme == std::string_view::npos || !(sameName(target.substr(0, scheme), "http") || sameName(target.substr(0, scheme), "https")))
        return std::string(target);
    const std::size_t path = target.find_first_of("/?", scheme + 3);
    if (path == std::string_view::npos)
        return "/";
    return (target[path] == '?' ? "/" : "") + std::string(target.substr(path));
}

bool skipEmptyLines(boost::beast::flat_buffer &buffer, std::size_t &skipped, std::size_t limit)
{
    while (skipped < limit) {
        const auto *bytes = static_cast<const char *>(buffer.data().data());
        const std::size_t size = buffer.size();
        if (size == 0 || (size == 1 && bytes[0] == '\r'))
            return false;
        if (bytes[0] != '\r' || bytes[1] != '\n')
            return true;
        buffer.consume(2);
        skipped += 2;
    }
    return true;
}

void refuseLooseChunkExtensions(bhttp::request_parser<bhttp::buffer_body> &parser)
{
    parser.on_chunk_header(extensionCheck);
}

} // namespace server::http
