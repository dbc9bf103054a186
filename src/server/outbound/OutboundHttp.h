#pragma once

#include <string>
#include <utility>
#include <vector>

namespace server {

// One outgoing HTTP call (the online lyrics database, the language model). Calls block the
// calling request thread; every one is bounded in time and size, never follows a redirect and
// always verifies TLS.
struct OutboundRequest
{
    std::string method = "GET";
    std::string url;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    long connectTimeoutMs = 2000;
    long totalTimeoutMs = 5000;
    std::size_t maxResponseBytes = 2 * 1024 * 1024;
};

struct OutboundResponse
{
    enum class Failure {
        None,      // an HTTP answer arrived (any status); see status and body
        Timeout,   // connect or total time-out
        TooLarge,  // the answer passed maxResponseBytes
        Redirect,  // a 3xx answer (never followed)
        Network,   // refused, reset, DNS, TLS verification, anything else
    };
    Failure failure = Failure::None;
    long status = 0;
    std::string body;
    std::string error; // for logs; never holds a secret
};

class OutboundHttp
{
public:
    virtual ~OutboundHttp() = default;
    virtual OutboundResponse send(const OutboundRequest &request) = 0;
};

} // namespace server
