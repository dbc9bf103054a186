#pragma once

#include <algorithm>
#include <cerrno>
#include <cstddef>

#include <unistd.h>

namespace server {

// Up to `capacity` bytes at `offset` of the open file `fd` whose first `size` bytes count;
// 0 at the end or on a failure to read.
inline std::size_t readFileAt(int fd, std::size_t size, std::size_t offset, char *buffer, std::size_t capacity)
{
    if (offset >= size)
        return 0;
    capacity = std::min(capacity, size - offset);
    for (;;) {
        const ssize_t got = ::pread(fd, buffer, capacity, off_t(offset));
        if (got < 0 && errno == EINTR)
            continue;
        return got > 0 ? std::size_t(got) : 0;
    }
}

} // namespace server
