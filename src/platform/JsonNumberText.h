#pragma once

#include <QtGlobal>

#include <optional>
#include <string_view>

// The numbers of untrusted JSON, read from their text.
//
// RapidJSON 1.1.0 reads past its table of cached powers of ten (internal/diyfp.h) when it converts
// some long number texts (forty nines and "e308", a long run of zeros): a read outside the table,
// and a wrong value. Readers of untrusted documents therefore parse with
// kParseNumbersAsStringsFlag, which hands each number over as text without converting it, and
// convert the text here: a text longer than any JSON writer produces for a 64-bit integer or a
// double is refused before it is converted, and the conversion itself is std::from_chars.
namespace JsonNumberText {

// A shortest round-trip double takes at most 24 characters ("-2.2250738585072014e-308"), a
// 64-bit integer 20.
constexpr size_t maximumLength = 40;

struct Number
{
    // Set when the text is an integer (no fraction, no exponent) within 64 signed bits.
    std::optional<qint64> integer;
    double value = 0; // the number, as the nearest double
};

// `text` as RapidJSON passes it (valid JSON number syntax). Nothing when it is longer than
// maximumLength or its value lies outside the double range (overflow, or so close to zero that
// only a subnormal or zero could hold it).
std::optional<Number> read(std::string_view text);

} // namespace JsonNumberText
