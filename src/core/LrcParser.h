#pragma once

#include "core/Lyrics.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringView>

// Turns LRC text into time-sorted lines.
//
// A line is timed by stamps "[mm:ss.f]": one to three digits of minutes, exactly two of seconds
// (not limited to 59), one to three of fraction. A line may carry several stamps, anywhere in it;
// it yields one entry per stamp. Lines made only of ID tags ([ti:…], [ar:…], [offset:…], any case)
// and lines without a stamp are dropped. The offset tag is never applied. Lines end at LF, VT, FF,
// CR, NEL, U+2028 and U+2029, each one a line end of its own (CRLF gives an empty line between).
//
// One forward scan, no regular expression, and no allocation per line beyond its words.
struct LRCParser
{
    // {"ti", "ar", "al", "length", "by", "offset"}
    static const QSet<QString> &idTags();
    // The two grammars as regular expressions: "\[(?:ti|ar|…):[^\]]*\]" (matched case-insensitively)
    // and "\[(\d{1,3}):(\d{2})\.(\d{1,3})\]" (\d any Unicode decimal digit). The parser does not
    // use them; they describe exactly what it recognises.
    static QString idTagPattern();
    static QString timestampPattern();

    // Never fails: text without a usable line gives an empty list. Lines with equal times keep
    // file order (then stamp order within a line).
    static QList<SyncedLine> parse(const QString &text);

    // The times of every stamp in the line, left to right. A stamp whose minutes or seconds are
    // not ASCII digits (the grammar's \d accepts any decimal digit) is skipped; a lone surrogate
    // is an ordinary character that no stamp contains.
    static QList<double> timestamps(QStringView line);

    // The text after the stamps that touch the start of the line and each other, trimmed of
    // horizontal white space: "[00:01.00][00:02.00] Hi" gives "Hi", "Hi [00:03.00]" the whole line.
    static QString leadingText(QStringView line);
};
