#pragma once
// The working copy a repair patches, and the commit that puts it in the database's place.
//
// The copy is created exclusively beside the database ("<name>.reparando", or
// "<name>.reparando.N" when that name is taken) with the database's permissions and owner,
// and filled with its bytes. Commit keeps the original bytes under a backup name that never
// overwrites an existing file ("<stem> (copia de seguridad)<ext>", then
// "<stem> (copia de seguridad N)<ext>"), then moves the copy onto the database's path. On
// POSIX the backup is a hard link taken before the rename, so at every instant the path
// names either the whole original or the whole repaired file; where the file system has no
// links, the original is copied to a working copy name, flushed, and only then given the
// backup's name. Each name change is flushed to the folder before the next step depends on
// it, and the copy's bytes before it takes the database's name, so a power cut leaves the
// original or the repair too. A copy that is not committed is removed; the database is
// never touched before the commit, and a process stopped by a signal removes it too
// (interrupt_cleanup.h). Copies another repair left behind when it was killed outright (or
// empty ones a power cut left) are removed by the next repair, which holds the database's
// lock; a backup name it left on the database itself does not stop the next repair.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>

#include "jet/file/file_lock.h"
#include "jet/file/interrupt_cleanup.h"
#include "jet/file/native_file.h"

namespace jet {

class WorkingCopy {
public:
    // Throws EngineError (Spanish, naming the database) when the copy cannot be made, e.g.
    // a full disk or a read-only folder; nothing is left behind then.
    explicit WorkingCopy(const DatabaseLock& database);
    WorkingCopy(const WorkingCopy&) = delete;
    WorkingCopy& operator=(const WorkingCopy&) = delete;
    ~WorkingCopy();

    const std::filesystem::path& path() const noexcept { return path_; }
    NativeFile& file() noexcept { return file_; }
    const NativeFile& file() const noexcept { return file_; }

    void write_at(std::uint64_t offset, std::span<const std::uint8_t> data);

    // Makes the copy durable, keeps the original as a backup and puts the copy at the
    // database's path. Returns the backup's path. On failure the database is untouched and
    // the copy removed.
    std::filesystem::path commit(DatabaseLock& database);

    // Removes the copy now (also done by the destructor when not committed).
    void discard() noexcept;

private:
    std::filesystem::path database_;  // where the database lives
    std::filesystem::path shown_;     // its path as given, for messages
    std::filesystem::path path_;
    NativeFile file_;
    bool committed_ = false;
    std::optional<RemovedOnSignal> scratch_;  // until committed or discarded
};

// "<stem> (copia de seguridad)<ext>" for n = 1, "<stem> (copia de seguridad n)<ext>" after.
std::filesystem::path backup_name(const std::filesystem::path& database, unsigned n);

}  // namespace jet
