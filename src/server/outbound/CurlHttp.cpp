#include "server/outbound/CurlHttp.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>

namespace server {

namespace {

struct Sink
{
    std::string *body = nullptr;
    std::size_t limit = 0;
    bool overflowed = false;
};

// Returning fewer bytes than offered aborts the transfer with CURLE_WRITE_ERROR; the flag
// tells that abort apart from a real write failure.
std::size_t writeBody(char *data, std::size_t size, std::size_t count, void *userdata)
{
    auto *sink = static_cast<Sink *>(userdata);
    const std::size_t bytes = size * count;
    if (sink->body->size() + bytes > sink->limit) {
        sink->overflowed = true;
        return 0;
    }
    sink->body->append(data, bytes);
    return bytes;
}

struct EasyDeleter
{
    void operator()(CURL *handle) const { curl_easy_cleanup(handle); }
};
struct ListDeleter
{
    void operator()(curl_slist *list) const { curl_slist_free_all(list); }
};

OutboundResponse::Failure failureOf(CURLcode code, const Sink &sink)
{
    using Failure = OutboundResponse::Failure;
    if (sink.overflowed || code == CURLE_FILESIZE_EXCEEDED)
        return Failure::TooLarge;
    if (code == CURLE_OPERATION_TIMEDOUT)
        return Failure::Timeout;
    return Failure::Network;
}

} // namespace

CurlHttp::CurlHttp()
{
    static std::once_flag initialised;
    std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

OutboundResponse CurlHttp::send(const OutboundRequest &request)
{
    OutboundResponse response;
    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    if (!easy) {
        response.failure = OutboundResponse::Failure::Network;
        response.error = "curl_easy_init failed";
        return response;
    }
    CURL *h = easy.get();
    char errorBuffer[CURL_ERROR_SIZE] = {};
    Sink sink{&response.body, request.maxResponseBytes};

    curl_easy_setopt(h, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
    // Request threads have no signal handlers to spare; the resolver then runs without alarm().
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, request.connectTimeoutMs);
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, request.totalTimeoutMs);
    curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(request.maxResponseBytes));
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &writeBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer);

    if (request.method == "GET") {
        curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    } else {
        if (request.method != "POST")
            curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, request.method.c_str());
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.body.data());
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
    }

    curl_slist *list = nullptr;
    for (const auto &[name, value] : request.headers)
        list = curl_slist_append(list, (name + ": " + value).c_str());
    // No "Expect: 100-continue" round trip before a body.
    list = curl_slist_append(list, "Expect:");
    std::unique_ptr<curl_slist, ListDeleter> headers(list);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());

    const CURLcode code = curl_easy_perform(h);
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &response.status);
    if (code != CURLE_OK) {
        response.failure = failureOf(code, sink);
        response.error = errorBuffer[0] ? errorBuffer : curl_easy_strerror(code);
        response.body.clear();
        return response;
    }
    if (response.status >= 300 && response.status < 400) {
        response.failure = OutboundResponse::Failure::Redirect;
        response.error = "redirect not followed (HTTP " + std::to_string(response.status) + ")";
        response.body.clear();
    }
    return response;
}

} // namespace server
