#pragma once

#include "platform/StrictJson.h"

#include "server/http/Message.h"

#include <QByteArray>

#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace server::http {

// A JSON answer. The body is the exact text given (made by JsonWriter).
void sendJson(Reply &response, int status, const QByteArray &body);
// An error answer: an object of string members, in the order given ({"error": "…"}, or the
// sign-in service's {"code", "error_code", "msg"} shapes; numbers go through sendJson).
void sendError(Reply &response, int status,
               std::initializer_list<std::pair<const char *, QString>> members);
// 401 {"error":"unauthorized"} for a missing, forged, expired or revoked bearer token.
void sendUnauthorized(Reply &response);

// The request body as a JSON object: valid UTF-8, well-formed JSON, an object at the top.
// Anything else answers 400 {"error": "…"} and gives nothing.
std::optional<JsonReader> readJsonObject(const Request &request, Reply &response);

// A query parameter of the request's target (never one from a form body); nothing when absent. Percent escapes and '+' decoded.
std::optional<std::string> queryValue(const Request &request, const std::string &name);
// The names of the target's query parameters, in order, for the access log.
std::vector<std::string> queryNames(const Request &request);

// The request's Content-Length, when it has a valid one.
std::optional<std::size_t> contentLength(const Request &request);
// How far past its limit a streamed upload is still read (and dropped) so that the client,
// which reads the answer only after sending, sees the 413 instead of a reset connection.
inline constexpr std::size_t drainBytes = 64u * 1024 * 1024;

// True when the bytes are well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool isValidUtf8(const char *data, std::size_t size);

} // namespace server::http
