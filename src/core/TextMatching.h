#pragma once

#include <QString>

// The matching form of a title or an artist: NFKC, then every character that is not a letter,
// a combining mark, a decimal digit or a horizontal blank becomes a space; lower-cased; words
// joined by single spaces. "Don’t Stop—Me  Now!!" → "don t stop me now".
QString normalizeForMatching(const QString &text);
