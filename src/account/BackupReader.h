#pragma once

#include "core/store/LibraryRows.h"

#include <QByteArrayView>

// Reads a backup document as a stream, with no copy of the whole document: every song filed
// under the namespace `backupNamespace` goes to `out` as soon as its closing brace has been
// read, so the caller must be ready to undo what `out` received when reading fails later
// (CardStore::replaceLibrary is).
//
// The document is checked completely: songs of other namespaces are read and checked too, then
// dropped; unknown members are skipped at every level; a namespace (or its "songs") that
// appears twice counts only the last time (`out` is cleared). Throws BackupError:
// - corrupt: not JSON (truncated, empty, invalid UTF-8, trailing bytes), a text holding an
//   unpaired surrogate escape, a date not in the internet date-time form with a zone and whole
//   seconds or whose UTC year is outside 0000-9999, a "kind" or "listeningDifficulty" outside
//   its raw values, a number that does not fit (playCount not written as an integer within 64
//   bits, a float beyond the double range);
// - malformed: a required member missing or null, or any value of the wrong JSON type.
// Errors thrown by `out` pass through unchanged. Nesting depth costs no stack (the parser is
// iterative).
namespace BackupReader {

void read(QByteArrayView document, QByteArrayView backupNamespace, LibraryWriter &out);

} // namespace BackupReader
