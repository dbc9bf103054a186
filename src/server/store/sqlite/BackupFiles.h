#pragma once

#include "server/store/ServerStore.h"

#include <functional>
#include <memory>
#include <string>

namespace server {

// The folder beside the SQLite file that holds the backup documents, one file per stored
// version, so that storing one never holds the database's write lock for longer than a small
// transaction that points at it. A document is written to a new file under an exclusive lock,
// synced, then named by its row; the lock ends after the commit. A file that no row names and no
// writer locks is left from a process that died mid-way (its locks died with it) and is swept.
class BackupFiles
{
public:
    // Creates the folder when missing. Throws StoreError.
    explicit BackupFiles(std::string folder);

    // A new document's file, locked against the sweep while the object lives.
    class NewFile
    {
    public:
        ~NewFile();
        NewFile(const NewFile &) = delete;
        NewFile &operator=(const NewFile &) = delete;

        const std::string &name() const { return m_name; }
        // Writes the `size` bytes `source` gives, then syncs the file and the folder.
        // StoreFullError when the disk has no room, StoreError when `source` ends early.
        void fill(std::size_t size, const BackupSource &source);
        // Deletes the file (it was not committed).
        void discard();

    private:
        friend class BackupFiles;
        NewFile(const BackupFiles &files, int fd, std::string name);
        const BackupFiles &m_files;
        int m_fd;
        std::string m_name;
    };

    std::unique_ptr<NewFile> create() const;
    // The document named `name`, or null when no such file is there (replaced meanwhile).
    std::shared_ptr<const BackupBytes> open(const std::string &name, std::size_t size) const;
    void remove(const std::string &name) const;
    // Deletes every file that no writer holds and `named` does not claim; answers how many.
    qint64 sweep(const std::function<bool(const std::string &name)> &named) const;

private:
    std::string path(const std::string &name) const { return m_folder + '/' + name; }
    void syncFolder() const;

    std::string m_folder;
};

} // namespace server
