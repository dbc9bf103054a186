#pragma once

// The server's own request and reply: what a route handler sees of HTTP. The transport
// (http/HttpService) fills a Request from the wire and writes a Reply back; handlers never see
// the library underneath, so the transport can change without touching them.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace server::http {

struct Header
{
    std::string name;
    std::string value;
};

// True when the two header names are the same, ignoring ASCII case.
bool sameName(std::string_view a, std::string_view b);

struct Request
{
    std::string method;        // "GET", "POST", …
    std::string target;        // as sent: the path and the query ("/api/backup?namespace=en")
    std::string path;          // the target up to '?'
    std::vector<Header> headers;
    std::string body;          // the whole body of a route with a body limit; empty on streamed routes
    std::string remoteAddress; // the peer's numeric address

    // The first header of that name (any case); empty when absent.
    std::string header(std::string_view name) const;
    bool hasHeader(std::string_view name) const;
};

// A body sent from somewhere other than memory: fills `buffer` with up to `capacity` of the next
// bytes and answers how many (0 only at the end or on failure; the transport then closes).
using BodySource = std::function<std::size_t(char *buffer, std::size_t capacity)>;

struct Reply
{
    int status = 200;
    std::string contentType;
    std::string body;
    std::vector<Header> headers; // more headers; Content-Type and Content-Length are the transport's
    bool close = false;          // end the connection after this answer

    // A body of `size` bytes read from `source` while it is sent (body stays empty).
    std::size_t streamedSize = 0;
    BodySource source;

    void setContent(std::string content, std::string type)
    {
        body = std::move(content);
        contentType = std::move(type);
    }
    void setHeader(std::string name, std::string value) { headers.push_back({std::move(name), std::move(value)}); }
    void setStream(std::size_t size, std::string type, BodySource from)
    {
        streamedSize = size;
        contentType = std::move(type);
        source = std::move(from);
    }
};

using Handler = std::function<void(const Request &, Reply &)>;
// Answers a request from what the process already holds in memory, on the I/O thread that read
// it: true when it answered. It never blocks (no database, no disk, no password hash, no outgoing
// call) and changes nothing; false when it cannot answer so, and then the route's handler runs on
// the worker pool as always (whatever was put in the reply is dropped), or `rest` when the quick
// handler set it: the remainder of the handler's work, with what the quick handler found out
// (a body it parsed), so that a request that needs the worker is not read twice. Its answer,
// or that of `rest`, must be the one the handler would give.
using QuickHandler = std::function<bool(const Request &, Reply &, Handler &rest)>;

// How a streamed route takes its body. The transport reads it at the client's pace on the I/O
// side, without a worker, handing each piece to `write`; once it is whole, `finish` runs on a
// worker and gives the answer. A body that passes `limit` bytes, or a piece `write` cannot keep,
// is answered at once (the client may still be sending) with what `refusal` gives, and the
// connection ends. A body cut short or too slow ends the connection with no answer. The
// functions are called in that order, one at a time, and dropped after the request.
struct BodyIntake
{
    std::size_t limit = 0;
    // On an I/O thread: it must not wait for anything slower than a local file.
    std::function<bool(const char *data, std::size_t size)> write;
    // On an I/O thread: the answer for a body over the limit (`tooLarge`) or one `write` refused.
    std::function<Reply(bool tooLarge)> refusal;
    std::function<void(Reply &)> finish;
};
// Runs on a worker once the head is read: answers the request itself (the body unread; the
// connection then ends), or fills the intake to take the body.
using StreamedHandler = std::function<void(const Request &, Reply &, BodyIntake &)>;

} // namespace server::http
