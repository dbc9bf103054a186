#include "account/BackupError.h"

const char *BackupError::what() const noexcept
{
    return m_kind == Kind::corrupt ? "BackupError.corrupt" : "BackupError.malformed";
}
