#pragma once
// Exclusive hold of a database file for the length of a repair. Taking it refuses, with a
// Spanish description naming the file: a missing path or a folder, a database that another
// program has open (live locks on its .ldb / .laccdb lock file or on the database itself)
// and a database another repair is already working on. A read-only file or folder is
// refused only once something has to be written (require_writable), so checking a clean
// read-only database still succeeds.
//
// A database reached through symbolic links is held where it lives, at the end of the
// chain: the repair replaces that file, beside it, and leaves the links as they were; the
// messages name the path as given. A file with several names (hard links) cannot be
// replaced under one name without splitting it from the others: require_writable refuses it.
#include <filesystem>
#include <vector>

#include "jet/file/native_file.h"

namespace jet {

class DatabaseLock {
public:
    explicit DatabaseLock(const std::filesystem::path& database);
    DatabaseLock(const DatabaseLock&) = delete;
    DatabaseLock& operator=(const DatabaseLock&) = delete;

    // Where the file lives (symbolic links followed).
    const std::filesystem::path& path() const noexcept { return path_; }
    // The path as given, for messages.
    const std::filesystem::path& shown() const noexcept { return shown_; }
    // The database, open for reading through the handle that holds the lock.
    const NativeFile& file() const noexcept { return file_; }
    // Whether the path still names the file this lock holds (nobody replaced it).
    bool still_holds_path() const;
    // Lets go of the file; needed on Windows before the file can be replaced.
    void release() noexcept { file_.close(); }
    // Throws the Spanish refusal when the file or its folder cannot be written.
    void require_writable() const;

private:
    std::filesystem::path shown_;
    std::filesystem::path path_;
    NativeFile file_;
    unsigned long links_ = 1;  // names the file has (hard links)
    bool file_writable_ = false;
    bool folder_writable_ = false;
};

// The lock files Access keeps beside a database while it is open: "<stem>.ldb" (Jet 3 and
// Jet 4) and "<stem>.laccdb" (ACE). Both are looked at for any database.
std::vector<std::filesystem::path> lock_file_candidates(const std::filesystem::path& database);

// Whether some process holds a lock on any byte of the file at path (false when the file
// does not exist). Never modifies or deletes the file.
bool has_live_locks(const std::filesystem::path& path);

}  // namespace jet
