#pragma once

#include <stdexcept>
#include <string>

namespace server {

// Failures of the database itself (see ServerStore).
class StoreError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The database is too busy to take a write now (the process's write queue is full, or the write
// could not start in time): nothing was written, and the same request may succeed a little later.
// Answered 503 with Retry-After, never 500.
class StoreBusyError : public StoreError
{
public:
    StoreBusyError(const std::string &what, int retryAfterSeconds)
        : StoreError(what), m_retryAfterSeconds(retryAfterSeconds)
    {
    }
    int retryAfterSeconds() const { return m_retryAfterSeconds; }

private:
    int m_retryAfterSeconds;
};

// The disk under the store has no room for what was being written: nothing was written (the
// previous state stands), and the answer says it does not fit rather than that the server failed.
class StoreFullError : public StoreError
{
public:
    using StoreError::StoreError;
};

} // namespace server
