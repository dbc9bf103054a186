#include "server/http/Replies.h"

#include "platform/JsonWriter.h"

#include <cctype>


namespace server::http {

void sendJson(Reply &response, int status, const QByteArray &body)
{
    response.status = status;
    response.setContent(std::string(body.constData(), std::size_t(body.size())), "application/json");
}

void sendError(Reply &response, int status,
               std::initializer_list<std::pair<const char *, QString>> members)
{
    sendJson(response, status, JsonWriter::toBytes([&members](JsonWriter &writer) {
                 writer.beginObject();
                 for (const auto &[name, text] : members)
                     writer.member(name, text);
                 writer.endObject();
             }));
}

void sendUnauthorized(Reply &response)
{
    sendError(response, 401, {{"error", QStringLiteral("unauthorized")}});
}

namespace {

std::string percentDecoded(const std::string &text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1]))
                   && std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            out += char(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

// Calls visit(name, value) for each parameter of the target's query.
template<class Visit>
void forEachQueryItem(const Request &request, Visit visit)
{
    const std::size_t question = request.target.find('?');
    if (question == std::string::npos)
        return;
    std::size_t start = question + 1;
    while (start <= request.target.size()) {
        std::size_t end = request.target.find('&', start);
        if (end == std::string::npos)
            end = request.target.size();
        const std::string item = request.target.substr(start, end - start);
        if (!item.empty()) {
            const std::size_t equals = item.find('=');
            if (!visit(percentDecoded(item.substr(0, equals)),
                       equals == std::string::npos ? std::string() : item.substr(equals + 1)))
                return;
        }
        start = end + 1;
    }
}

} // namespace

std::optional<std::string> queryValue(const Request &request, const std::string &name)
{
    std::optional<std::string> found;
    forEachQueryItem(request, [&](const std::string &key, const std::string &value) {
        if (key != name)
            return true;
        found = percentDecoded(value);
        return false;
    });
    return found;
}

std::vector<std::string> queryNames(const Request &request)
{
    std::vector<std::string> names;
    forEachQueryItem(request, [&](const std::string &key, const std::string &) {
        names.push_back(key);
        return true;
    });
    return names;
}

std::optional<std::size_t> contentLength(const Request &request)
{
    if (!request.hasHeader("Content-Length"))
        return std::nullopt;
    const std::string text = request.header("Content-Length");
    if (text.empty() || text.size() > 19 || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return std::size_t(std::stoull(text));
}

bool isValidUtf8(const char *data, std::size_t size)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(data);
    std::size_t i = 0;
    while (i < size) {
        const unsigned char lead = bytes[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        int length = 0;
        char32_t codePoint = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            codePoint = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            codePoint = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            codePoint = lead & 0x07;
        } else {
            return false;
        }
        if (size - i < std::size_t(length))
            return false;
        for (int k = 1; k < length; ++k) {
            if ((bytes[i + k] & 0xC0) != 0x80)
                return false;
            codePoint = (codePoint << 6) | (bytes[i + k] & 0x3F);
        }
        const bool overlong = (length == 3 && codePoint < 0x800) || (length == 4 && codePoint < 0x10000);
        if (overlong || (codePoint >= 0xD800 && codePoint <= 0xDFFF) || codePoint > 0x10FFFF)
            return false;
        i += std::size_t(length);
    }
    return true;
}

std::optional<JsonReader> readJsonObject(const Request &request, Reply &response)
{
    if (!isValidUtf8(request.body.data(), request.body.size())) {
        sendError(response, 400, {{"error", QStringLiteral("the body is not valid UTF-8")}});
        return std::nullopt;
    }
    try {
        return JsonReader(StrictJson::parseObject(QByteArray::fromRawData(request.body.data(), qsizetype(request.body.size()))));
    } catch (const JsonError &) {
        sendError(response, 400, {{"error", QStringLiteral("the body is not a JSON object")}});
        return std::nullopt;
    }
}

} // namespace server::http
