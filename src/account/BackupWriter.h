#pragma once

#include "core/store/LibraryRows.h"

#include <QByteArray>

// Writes the backup document: UTF-8 JSON, pretty-printed, the members of every object sorted
// by key, absent optional values left out (never null), "/" written as "\/", dates in UTC
// with whole seconds. Songs and cards keep the order the source gives them.
namespace BackupWriter {

struct Header
{
    qint64 exportedAt = 0; // milliseconds since 1970 UTC
    QByteArray appBuild;
    QByteArray backupNamespace;
};

// The whole document. A line time or offset that is not finite makes it throw JsonError;
// nothing is returned then. A stored hint text that does not decode, or a difficulty text
// that is not a known raw value, is left out.
QByteArray write(const Header &header, LibraryRowSource &source);

} // namespace BackupWriter
