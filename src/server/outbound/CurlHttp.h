#pragma once

#include "server/outbound/OutboundHttp.h"

namespace server {

// OutboundHttp over libcurl. Each call uses its own easy handle, so any number of request
// threads may call send() at once. TLS is always verified, redirects are never followed (a 3xx
// is reported as Failure::Redirect), and the answer is cut off at maxResponseBytes
// (Failure::TooLarge) whether or not the peer announced its length.
class CurlHttp final : public OutboundHttp
{
public:
    CurlHttp();
    OutboundResponse send(const OutboundRequest &request) override;
};

} // namespace server
