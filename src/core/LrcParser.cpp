#include "core/LrcParser.h"

#include "platform/Text.h"

#include <QChar>

#include <algorithm>
#include <array>
#include <bit>
#include <limits>
#include <string_view>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// One forward scan over the UTF-16 text, without regular expressions. The grammar it recognises:
//   stamp   "[" \d{1,3} ":" \d{2} "." \d{1,3} "]"   where \d is any Unicode decimal digit (Nd),
//           possibly outside the BMP; only ASCII digits read as a number.
//   ID tag  "[" key ":" [^\]]* "]"   key one of idTags(), letters compared without regard to case
//           as Unicode simple case folding does (so U+017F LONG S stands for "s").
// A lone surrogate never matches anything (it is read as U+FFFD) and is replaced by U+FFFD in the
// words it appears in.

namespace {

using Units = const char16_t *;

const std::array<std::u16string_view, 6> &idTagKeys()
{
    static constexpr std::array<std::u16string_view, 6> keys{u"ti", u"ar", u"al", u"length", u"by", u"offset"};
    return keys;
}

// LF, VT, FF, CR, NEL, LINE SEPARATOR and PARAGRAPH SEPARATOR: each one ends a line.
inline bool isLineBreak(char16_t c)
{
    return (c <= 0x0D && c >= 0x0A) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

// TAB and the space separators (Zs): all lie in the BMP, and no surrogate is one.
inline bool isBlank(char16_t c)
{
    if (c < 0x80)
        return c == u' ' || c == u'\t';
    // Outside ASCII the separators are U+00A0, U+1680 and some of U+2000…U+3000.
    if (c != 0xA0 && c != 0x1680 && (c < 0x2000 || c > 0x3000))
        return false;
    return Text::contains(Text::CharSet::horizontalWhitespace, c);
}

// A run of at most `maxCount` decimal digits (counted in code points).
struct DigitRun
{
    qsizetype end;     // the index after the run
    int count = 0;
    int value = 0;     // meaningful only when `reads`
    bool reads = true; // every digit ASCII
};

// Goes on with `run` over digits of any script. A lone surrogate's category is Cs, never Nd.
void continueWithAnyDigits(Units p, qsizetype end, int maxCount, DigitRun *run)
{
    while (run->count < maxCount && run->end < end) {
        const char16_t c = p[run->end];
        const unsigned digit = unsigned(c) - u'0';
        qsizetype length = 1;
        if (digit <= 9) {
            run->value = run->value * 10 + int(digit);
        } else if (QChar::isHighSurrogate(c) && run->end + 1 < end && QChar::isLowSurrogate(p[run->end + 1])) {
            if (QChar::category(QChar::surrogateToUcs4(c, p[run->end + 1])) != QChar::Number_DecimalDigit)
                break;
            length = 2;
            run->reads = false;
        } else {
            if (QChar::category(char32_t(c)) != QChar::Number_DecimalDigit)
                break;
            run->reads = false;
        }
        run->end += length;
        ++run->count;
    }
}

// The digits from p[i] on: ASCII ones in a tight loop, the rest of the run only when a unit
// outside ASCII follows.
inline DigitRun readDigits(Units p, qsizetype i, qsizetype end, int maxCount)
{
    DigitRun run{i};
    const qsizetype asciiStop = std::min(end, i + maxCount);
    while (run.end < asciiStop) {
        const unsigned digit = unsigned(p[run.end]) - u'0';
        if (digit > 9)
            break;
        run.value = run.value * 10 + int(digit);
        ++run.end;
    }
    run.count = int(run.end - i);
    if (run.count < maxCount && run.end < end && p[run.end] >= 0x80)
        continueWithAnyDigits(p, end, maxCount, &run);
    return run;
}

struct Stamp
{
    qsizetype end = 0;
    bool reads = false; // minutes and seconds are ASCII digits
    double time = 0.0;
};

// A stamp at p[i] == '['. Its time is minutes × 60, plus seconds, plus fraction ÷ 10^digits, added
// in that order; a fraction of other digits counts as 0.
inline bool matchStamp(Units p, qsizetype i, qsizetype end, Stamp *stamp)
{
    static constexpr double powersOfTen[] = {1.0, 10.0, 100.0, 1000.0};
    const DigitRun minutes = readDigits(p, i + 1, end, 3);
    if (minutes.count == 0 || minutes.end >= end || p[minutes.end] != u':')
        return false;
    const DigitRun seconds = readDigits(p, minutes.end + 1, end, 2);
    if (seconds.count != 2 || seconds.end >= end || p[seconds.end] != u'.')
        return false;
    const DigitRun fraction = readDigits(p, seconds.end + 1, end, 3);
    if (fraction.count == 0 || fraction.end >= end || p[fraction.end] != u']')
        return false;
    stamp->end = fraction.end + 1;
    stamp->reads = minutes.reads && seconds.reads;
    if (stamp->reads) {
        const double fractionPart = fraction.reads ? double(fraction.value) / powersOfTen[fraction.count] : 0.0;
        stamp->time = double(minutes.value) * 60.0 + double(seconds.value) + fractionPart;
    }
    return true;
}

// `c` is the lower-case ASCII `letter` or a character that case-folds to it.
inline bool sameLetterIgnoringCase(char16_t letter, char16_t c)
{
    if (c < 0x80)
        return (c | 0x20) == letter;
    return QChar::toCaseFolded(char32_t(c)) == letter;
}

// An ID tag at p[i] == '[' that ends by `end`: the index after its "]", or -1.
qsizetype matchIdTag(Units p, qsizetype i, qsizetype end)
{
    for (std::u16string_view key : idTagKeys()) {
        const qsizetype colon = i + 1 + qsizetype(key.size());
        if (colon >= end || p[colon] != u':')
            continue;
        if (!std::equal(key.begin(), key.end(), p + i + 1, sameLetterIgnoringCase))
            continue;
        const Units close = std::find(p + colon + 1, p + end, u']');
        return close == p + end ? -1 : close - p + 1;
    }
    return -1;
}

qsizetype skipBlanks(Units p, qsizetype i, qsizetype end)
{
    while (i < end && isBlank(p[i]))
        ++i;
    return i;
}

qsizetype trimBlanksBefore(Units p, qsizetype begin, qsizetype end)
{
    while (end > begin && isBlank(p[end - 1]))
        --end;
    return end;
}

// Whether p[begin, end) (trimmed, not empty) is ID tags with blanks between them and nothing else.
bool holdsOnlyIdTags(Units p, qsizetype begin, qsizetype end)
{
    qsizetype i = begin;
    while (i < end) {
        if (p[i] != u'[')
            return false;
        i = matchIdTag(p, i, end);
        if (i < 0)
            return false;
        i = skipBlanks(p, i, end);
    }
    return true;
}

// The words p[begin, end) (`end` already trimmed) without the blanks before them. Lone
// surrogates become U+FFFD; `anySurrogate` tells whether there may be one.
QString wordsOf(Units p, qsizetype begin, qsizetype end, bool anySurrogate)
{
    begin = skipBlanks(p, begin, end);
    QString words = QStringView(p + begin, end - begin).toString();
    if (anySurrogate)
        return Text::withLoneSurrogatesReplaced(words);
    return words;
}

// The first '[', line break or surrogate in p[i, end), or `end`: the one loop that touches
// every unit of the text.
inline qsizetype nextSpecial(Units p, qsizetype i, qsizetype end)
{
#if defined(__SSE2__)
    // Eight units at a time: '[', LF…CR (c − LF ≤ 3, unsigned), NEL, U+2028/U+2029 (c & ~1),
    // surrogates (c & 0xF800 is 0xD800).
    const __m128i bracket = _mm_set1_epi16(u'[');
    const __m128i lineFeed = _mm_set1_epi16(0x0A);
    const __m128i three = _mm_set1_epi16(3);
    const __m128i nextLine = _mm_set1_epi16(0x85);
    const __m128i allButLowBit = _mm_set1_epi16(short(0xFFFE));
    const __m128i lineSeparator = _mm_set1_epi16(0x2028);
    const __m128i surrogateBits = _mm_set1_epi16(short(0xF800));
    const __m128i surrogate = _mm_set1_epi16(short(0xD800));
    for (; i + 8 <= end; i += 8) {
        const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i));
        const __m128i controls =
            _mm_cmpeq_epi16(_mm_subs_epu16(_mm_sub_epi16(units, lineFeed), three), _mm_setzero_si128());
        const __m128i separators = _mm_cmpeq_epi16(_mm_and_si128(units, allButLowBit), lineSeparator);
        const __m128i surrogates = _mm_cmpeq_epi16(_mm_and_si128(units, surrogateBits), surrogate);
        const __m128i hits = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(units, bracket), controls),
                                          _mm_or_si128(_mm_cmpeq_epi16(units, nextLine), separators));
        const unsigned mask = unsigned(_mm_movemask_epi8(_mm_or_si128(hits, surrogates)));
        if (mask != 0)
            return i + std::countr_zero(mask) / 2;
    }
#endif
    while (i < end) {
        const char16_t c = p[i];
        if (c == u'[' || isLineBreak(c) || QChar::isSurrogate(c))
            return i;
        ++i;
    }
    return end;
}

// The first '[' in p[i, end), or `end`.
inline qsizetype nextBracket(Units p, qsizetype i, qsizetype end)
{
    return std::find(p + i, p + end, u'[') - p;
}

struct ScannedLine
{
    qsizetype end = 0;         // where the scan stopped: a line break or the end of the scanned text
    qsizetype leadingEnd = 0;  // end of the run of stamps that starts the line, each touching the last
    bool anySurrogate = false; // outside the stamps (only when scanning one line)
};

// The stamps of p[begin, end), left to right, up to the first line break when `oneLine`. Each
// time that reads goes to `onTime`.
template <bool oneLine, typename OnTime>
ScannedLine scanStamps(Units p, qsizetype begin, qsizetype end, OnTime &&onTime)
{
    ScannedLine line{end, begin};
    qsizetype i = begin;
    for (;;) {
        i = oneLine ? nextSpecial(p, i, end) : nextBracket(p, i, end);
        if (i == end)
            break;
        if (p[i] != u'[') {
            if (!QChar::isSurrogate(p[i]))
                break; // a line break
            line.anySurrogate = true;
            ++i;
            continue;
        }
        Stamp stamp;
        if (!matchStamp(p, i, end, &stamp)) {
            ++i;
            continue;
        }
        if (i == line.leadingEnd)
            line.leadingEnd = stamp.end;
        if (stamp.reads)
            onTime(stamp.time);
        i = stamp.end;
    }
    line.end = i;
    return line;
}

// What one pass over the text collects: a time for each stamp that reads, and the words of each
// timed line once, however many stamps it has.
class Collected
{
public:
    void addTime(double time)
    {
        m_inTimeOrder = m_inTimeOrder && (m_entries.empty() || m_entries.back().time <= time);
        m_entries.push_back(Entry{time, qsizetype(m_lines.size())});
    }
    // The times added since `firstEntry` belong to the line with these words.
    void finishLine(size_t firstEntry, QString words)
    {
        m_lines.push_back(LineWords{std::move(words), qsizetype(m_entries.size() - firstEntry)});
    }
    // Drops the times added since `firstEntry`.
    void dropLine(size_t firstEntry) { m_entries.resize(firstEntry); }
    size_t timeCount() const { return m_entries.size(); }

    // The lines in time order; equal times keep file order, as a stable sort keeps them.
    QList<SyncedLine> takeSorted()
    {
        if (!m_inTimeOrder)
            sortEntries();
        QList<SyncedLine> sorted(qsizetype(m_entries.size()));
        SyncedLine *out = sorted.data();
        for (const Entry &entry : m_entries) {
            LineWords &line = m_lines[size_t(entry.line)];
            out->timestamp = entry.time;
            // The last entry of a line takes its words; the others share them.
            if (--line.entriesLeft == 0)
                out->text = std::move(line.words);
            else
                out->text = line.words;
            ++out;
        }
        return sorted;
    }

private:
    struct Entry
    {
        double time;
        qsizetype line; // index into `m_lines`
    };
    struct LineWords
    {
        QString words;
        qsizetype entriesLeft;
    };

    // (time, line) orders totally. Entries of one line with equal times are interchangeable, so
    // any sort by it gives the stable order.
    static bool before(const Entry &a, const Entry &b)
    {
        return a.time < b.time || (a.time == b.time && a.line < b.line);
    }

    // Most m_entries arrive in order: those that come after a later time (a repeated line's later
    // stamps, say) are set aside, sorted alone and merged back.
    void sortEntries()
    {
        std::vector<Entry> inPlace;
        std::vector<Entry> aside;
        inPlace.reserve(m_entries.size());
        // Backwards, an entry is in place when no entry after it has an earlier time.
        double earliestAfter = std::numeric_limits<double>::infinity();
        for (auto it = m_entries.crbegin(); it != m_entries.crend(); ++it) {
            if (it->time <= earliestAfter) {
                inPlace.push_back(*it);
                earliestAfter = it->time;
            } else {
                aside.push_back(*it);
            }
        }
        std::reverse(inPlace.begin(), inPlace.end());
        std::sort(aside.begin(), aside.end(), before);
        std::merge(inPlace.cbegin(), inPlace.cend(), aside.cbegin(), aside.cend(), m_entries.begin(), before);
    }

    std::vector<Entry> m_entries;
    std::vector<LineWords> m_lines;
    bool m_inTimeOrder = true;
};

} // namespace

const QSet<QString> &LRCParser::idTags()
{
    static const QSet<QString> tags = [] {
        QSet<QString> keys;
        for (std::u16string_view key : idTagKeys())
            keys.insert(QString::fromUtf16(key.data(), qsizetype(key.size())));
        return keys;
    }();
    return tags;
}

QString LRCParser::idTagPattern()
{
    QStringList keys;
    for (std::u16string_view key : idTagKeys())
        keys.append(QString::fromUtf16(key.data(), qsizetype(key.size())));
    return QStringLiteral("\\[(?:") + keys.join(QLatin1Char('|')) + QStringLiteral("):[^\\]]*\\]");
}

QString LRCParser::timestampPattern()
{
    return QStringLiteral("\\[(\\d{1,3}):(\\d{2})\\.(\\d{1,3})\\]");
}

QList<SyncedLine> LRCParser::parse(const QString &text)
{
    const Units p = reinterpret_cast<Units>(text.constData());
    const qsizetype size = text.size();
    Collected collected;
    for (qsizetype i = 0; i <= size; ++i) {
        const qsizetype lineBegin = skipBlanks(p, i, size);
        const size_t firstEntry = collected.timeCount();
        const ScannedLine line = scanStamps<true>(p, lineBegin, size, [&](double time) { collected.addTime(time); });
        i = line.end;
        if (collected.timeCount() == firstEntry)
            continue;
        const qsizetype lineEnd = trimBlanksBefore(p, lineBegin, line.end);
        // A line that starts with a stamp does not start with a tag (no key starts with a digit).
        if (line.leadingEnd == lineBegin && holdsOnlyIdTags(p, lineBegin, lineEnd))
            collected.dropLine(firstEntry); // the order flag may now be pessimistic: harmless
        else
            collected.finishLine(firstEntry, wordsOf(p, line.leadingEnd, lineEnd, line.anySurrogate));
    }
    return collected.takeSorted();
}

QList<double> LRCParser::timestamps(QStringView line)
{
    QList<double> times;
    scanStamps<false>(line.utf16(), 0, line.size(), [&](double time) { times.append(time); });
    return times;
}

QString LRCParser::leadingText(QStringView line)
{
    const ScannedLine scanned = scanStamps<false>(line.utf16(), 0, line.size(), [](double) {});
    return Text::trimmed(line.sliced(scanned.leadingEnd), Text::CharSet::horizontalWhitespace);
}
