#pragma once

#include <QList>
#include <QString>
#include <QStringView>

// Text helpers with the character sets the program's text rules are written against.
namespace Text {

enum class CharSet {
    // Spaces of every kind (Unicode Zs), line and paragraph separators, and the control
    // characters TAB, LF, VT, FF, CR and NEL.
    whitespacesAndNewlines,
    // Horizontal blanks only: TAB and the Unicode space separators (Zs). No line breaks.
    horizontalWhitespace,
    // Line breaks: LF, VT, FF, CR, NEL (U+0085), LINE SEPARATOR (U+2028), PARAGRAPH SEPARATOR (U+2029).
    newlines,
};

bool contains(CharSet set, char32_t codePoint);

// The text without the set's characters at either end. Works on code points; a lone surrogate
// is never a member of any set.
QStringView trimmedView(QStringView text, CharSet set);
QString trimmed(QStringView text, CharSet set = CharSet::whitespacesAndNewlines);

// Splits at every character of the set, each one a separator of its own: "a\r\nb" split at
// newlines gives "a", "", "b". The pieces are views into `text`.
QList<QStringView> split(QStringView text, CharSet set);

// User-perceived characters (extended grapheme clusters): a flag, an emoji family or a letter
// with combining marks counts once.
qsizetype characterCount(const QString &text);

// The text with every unpaired surrogate replaced by U+FFFD. Regular expressions refuse to match
// invalid UTF-16 at all, so text from outside (JSON "\udc00" escapes, files) is repaired first.
QString withLoneSurrogatesReplaced(const QString &text);

// Unicode compatibility composition (NFKC): full-width forms become ASCII, ligatures split, …
QString nfkc(const QString &text);

// Canonical composition (NFC): the one spelling under which canonically equivalent texts ("é"
// precomposed, or "e" followed by U+0301) meet, for matching, grouping and counting.
QString canonical(const QString &text);
// Whether two texts are canonically equivalent (equal NFC forms).
bool canonicallyEqual(const QString &a, const QString &b);

} // namespace Text
