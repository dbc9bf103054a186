#pragma once

// The strict reading of a request head, on top of what Beast's parser already refuses (bad
// chunk sizes, whitespace before a colon, differing Content-Lengths).

#include <boost/beast/core/error.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/string.hpp>
#include <boost/beast/http/buffer_body.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/parser.hpp>

#include <string>
#include <string_view>

namespace server::http {

// A parse error worth a 400 (not a hang-up or a head cut short by the peer closing).
bool isParseError(const boost::beast::error_code &error);

std::string_view view(boost::beast::string_view text);
// Without the spaces and tabs around it.
std::string_view trimmed(std::string_view text);

// What the parser lets through but a strict reading refuses: a body framed two ways (a
// Transfer-Encoding beside a Content-Length, in either order), a transfer coding other than
// chunked alone, a repeated Transfer-Encoding, a version other than 1.0 and 1.1, an HTTP/1.1
// request without a Host, two Hosts. Null when the head is sound.
const char *headProblem(const boost::beast::http::request_header<> &head);

// The target as a path and query: an absolute-form target ("http://host:8787/healthz?x") without
// its scheme and authority ("/healthz?x"); any other as it is.
std::string originForm(std::string_view target);

// Drops the empty lines (CRLF) at the start of `buffer` (a client may end a body with one more),
// counting their bytes in `skipped` up to `limit`; true when what follows is for the parser, false
// while the bytes that have arrived may still be an empty line (none, or a lone CR).
bool skipEmptyLines(boost::beast::flat_buffer &buffer, std::size_t &skipped, std::size_t limit);

// The parser refuses a chunk whose extensions hold a control character (a bare line feed inside
// a quoted value would let a reader that ends lines there frame the body differently).
void refuseLooseChunkExtensions(boost::beast::http::request_parser<boost::beast::http::buffer_body> &parser);

} // namespace server::http
