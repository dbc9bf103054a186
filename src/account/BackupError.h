#pragma once

#include <exception>

// A backup document that cannot be read. It carries no message text and is compared by kind.
class BackupError : public std::exception
{
public:
    enum class Kind {
        corrupt,   // not a readable document: not JSON, a date in another form, an unknown
                   // enumeration value, a number that does not fit
        malformed, // readable, but a member is missing, null where a value is required, or
                   // of the wrong JSON type
    };

    static BackupError corrupt() { return BackupError(Kind::corrupt); }
    static BackupError malformed() { return BackupError(Kind::malformed); }

    Kind kind() const { return m_kind; }
    const char *what() const noexcept override;

    friend bool operator==(const BackupError &a, const BackupError &b) { return a.m_kind == b.m_kind; }

private:
    explicit BackupError(Kind kind)
        : m_kind(kind)
    {
    }

    Kind m_kind;
};
