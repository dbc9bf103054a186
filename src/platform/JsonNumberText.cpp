#include "platform/JsonNumberText.h"

#include <charconv>
#include <system_error>

namespace JsonNumberText {

std::optional<Number> read(std::string_view text)
{
    if (text.empty() || text.size() > maximumLength)
        return std::nullopt;
    const char *const first = text.data();
    const char *const last = first + text.size();
    Number number;
    if (text.find_first_of(".eE") == std::string_view::npos) {
        qint64 integer = 0;
        const auto [end, error] = std::from_chars(first, last, integer);
        if (error == std::errc() && end == last) {
            number.integer = integer;
            number.value = double(integer);
            return number;
        }
        // Beyond 64 bits: a whole number that only a double holds.
    }
    const auto [end, error] = std::from_chars(first, last, number.value, std::chars_format::general);
    if (error != std::errc() || end != last)
        return std::nullopt;
    return number;
}

} // namespace JsonNumberText
