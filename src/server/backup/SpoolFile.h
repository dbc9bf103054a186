#pragma once

#include <cstddef>
#include <string>
#include <system_error>

namespace server {

// An anonymous file that holds one backup on its way between the network and the store, so
// that neither side holds the document in memory: an upload is written here as it arrives and
// stored once complete; a download the store cannot lend is copied here in one snapshot and
// sent from here at its readers' pace. The file has no name (gone with the descriptor, even
// after a crash). Throws std::system_error when it cannot be made or written.
class SpoolFile
{
public:
    explicit SpoolFile(const std::string &folder);
    ~SpoolFile();
    SpoolFile(const SpoolFile &) = delete;
    SpoolFile &operator=(const SpoolFile &) = delete;

    void writeAt(std::size_t offset, const char *data, std::size_t size);
    void append(const char *data, std::size_t size) { writeAt(m_size, data, size); }
    // Up to `capacity` bytes from `offset`; 0 at the end.
    std::size_t readAt(std::size_t offset, char *buffer, std::size_t capacity) const;
    std::size_t size() const { return m_size; }

private:
    int m_fd = -1;
    std::size_t m_size = 0;
};

// True when the error says the disk (or the user's share of it) is full.
bool isOutOfSpace(const std::system_error &error);

} // namespace server
