#include "server/http/AccessLog.h"

#include "server/http/Replies.h"
#include "server/http/Router.h"

namespace server::http {
namespace {

constexpr std::size_t methodBound = 16;

void appendNumbers(std::string &line, int status, std::chrono::steady_clock::duration elapsed, std::size_t bytes)
{
    line += ' ';
    line += std::to_string(status);
    line += ' ';
    line += std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
    line += "ms ";
    line += std::to_string(bytes);
    line += 'B';
}

} // namespace

std::string printableMethod(std::string_view method)
{
    std::string shown;
    const std::size_t kept = std::min(method.size(), methodBound);
    shown.reserve(kept + 3);
    for (std::size_t i = 0; i < kept; ++i)
        shown += method[i] > ' ' && method[i] < 0x7F ? method[i] : '?';
    if (method.size() > methodBound)
        shown += "...";
    return shown;
}

std::string accessLine(const Router &router, std::string_view method, std::string_view target, int status,
                       std::chrono::steady_clock::duration elapsed, std::size_t bytes)
{
    std::string line = printableMethod(method);
    line.reserve(96);
    line += ' ';
    const std::string_view path = target.substr(0, target.find('?'));
    // Only known routes are named: an unknown path is whatever the client sent.
    if (!router.knows(std::string(path))) {
        line += "(unknown path)";
    } else {
        line += path;
        Request request;
        request.target = std::string(target);
        char separator = '?';
        for (const std::string &name : queryNames(request)) {
            // Names of our own routes' parameters only; anything else is client text.
            const bool known = name == "namespace" || name == "grant_type" || name == "type" || name == "token";
            line += separator;
            line += known ? std::string_view(name) : std::string_view("\xE2\x80\xA6"); // "…"
            separator = '&';
        }
    }
    appendNumbers(line, status, elapsed, bytes);
    return line;
}

std::string malformedLine(std::string_view reason, int status, std::size_t bytes)
{
    std::string line = "- (malformed request: ";
    for (const char c : reason.substr(0, 64))
        line += c >= ' ' && c < 0x7F ? c : '?';
    line += ')';
    appendNumbers(line, status, std::chrono::steady_clock::duration::zero(), bytes);
    return line;
}

const char *reasonPhrase(int status)
{
    switch (status) {
    case 100: return "Continue";
    case 200: return "OK";
    case 201: return "Created";
    case 204: return "No Content";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 409: return "Conflict";
    case 411: return "Length Required";
    case 413: return "Payload Too Large";
    case 422: return "Unprocessable Entity";
    case 429: return "Too Many Requests";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    case 504: return "Gateway Timeout";
    default: return status < 300 ? "OK" : status < 500 ? "Client Error" : "Server Error";
    }
}

} // namespace server::http
