#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

// The pages of font files mapped into this process. FreeType maps each font file it opens, once
// per thread that draws text (Qt keeps one FreeType library per thread), and reads outlines from
// the mapping. Every read fault maps a whole window of neighbouring pages (the kernel's
// fault-around), so drawing a few hundred Chinese glyphs scattered over a 15 MB outline table
// leaves most of the file resident in each mapping, and every new song adds more. The pages
// are clean copies of the file: dropping them from the page tables loses nothing, and a later
// read maps them again from the page cache.
namespace FontFilePages {

struct Range
{
    quintptr begin = 0;
    quintptr end = 0;
    QByteArray path;
    bool operator==(const Range &) const = default;
};

// The mappings in a /proc/<pid>/maps text that are font files (.ttf, .otf, .ttc, .otc, any
// case) mapped without write access. Writable mappings are left out: their pages may hold
// changes that exist nowhere else.
QList<Range> readOnlyFontMappings(QByteArrayView maps);

// Drops this process's resident pages of those mappings (MADV_DONTNEED). Returns how many
// mappings were released; 0 where /proc/self/maps cannot be read.
//
// A mapping that is unmapped meanwhile, and its addresses taken by another (anonymous memory,
// whose pages MADV_DONTNEED would empty), must not be released: each one is checked to be still
// that file, over exactly that range, just before it is released. Call it where the threads that
// draw text cannot close a font (it narrows the window to that check; it cannot close it).
int releaseResident();

// This process's resident pages that are backed by files (or shared memory): the third field of
// /proc/self/statm, a cheap read. It grows when FreeType reads outlines (and when library code
// runs for the first time), so a rise says a release may be worth its /proc/self/maps read.
// -1 where it cannot be read.
qint64 residentFilePages();

} // namespace FontFilePages
