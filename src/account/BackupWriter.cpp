#include "account/BackupWriter.h"

namespace BackupWriter {

QByteArray write(const Header &header, LibraryRowSource &source)
{
    Q_UNUSED(header);
    Q_UNUSED(source);
    return {};
}

} // namespace BackupWriter
