#include <array>
#include "jet/file/safe_commit.h"

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace jet {

namespace fs = std::filesystem;

namespace {

constexpr unsigned max_name_attempts = 1000;
constexpr std::size_t copy_chunk = 1u << 20;

std::string quoted(const fs::path& path) { return "«" + display_path(path) + "»"; }

fs::path folder_of(const fs::path& path) {
    const fs::path parent = path.parent_path();
    return parent.empty() ? fs::path(".") : parent;
}

fs::path working_name(const fs::path& database, unsigned n) {
    fs::path name = database;
    name += n == 0 ? ".reparando" : ".reparando." + std::to_string(n);
    return name;
}

[[noreturn]] void fail_disk_full(const fs::path& database) {
    throw EngineError("No se puede reparar " + quoted(database) +
                      ": no queda espacio en el disco para la copia de trabajo. La base de datos no se ha modificado.");
}

[[noreturn]] void fail_read_only_folder(const fs::path& database, const fs::path& real) {
    throw EngineError("No se puede reparar " + quoted(database) + ": la carpeta " + quoted(folder_of(real)) +
                      " es de solo lectura o no tiene permiso para escribir en ella.");
}

// A working copy starts as the database's bytes, and no fix rewrites the format's
// signature: a file at a working copy's name that does not begin with it is someone else's.
// An empty one is what a repair stopped before its first write leaves (or a power cut that
// kept the name but not the bytes); removing it loses nothing.
bool left_by_a_killed_repair(const fs::path& path) noexcept {
    try {
        std::error_code error;
        if (!fs::is_regular_file(fs::symlink_status(path, error))) return false;
        const NativeFile file = NativeFile::open(path, NativeFile::Mode::Read);
        std::array<std::uint8_t, 19> start{};
        if (file.size() == 0) return true;
        if (file.size() < start.size()) return false;
        file.read_at(0, start);
        const std::string name(start.begin() + 4, start.end());
        return start[0] == 0x00 && start[1] == 0x01 && start[2] == 0x00 && start[3] == 0x00 &&
               (name == "Standard Jet DB" || name == "Standard ACE DB");
    } catch (...) {
        return false;
    }
}

// Copies every byte of from into to, which must be empty. Chunks of zeros are not written
// (an empty file reads zeros there): a file grown sparse, e.g. one whose length field was
// damaged past the pages it holds, is copied without filling the disk with zeros.
void copy_contents(const NativeFile& from, NativeFile& to) {
    const std::uint64_t size = from.size();
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min<std::uint64_t>(size, copy_chunk)));
    std::uint64_t written_to = 0;
    for (std::uint64_t at = 0; at < size;) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(size - at, buffer.size()));
        std::span<std::uint8_t> chunk(buffer.data(), n);
        from.read_at(at, chunk);
        at += n;
        if (std::all_of(chunk.begin(), chunk.end(), [](std::uint8_t b) { return b == 0; })) continue;
        to.write_at(at - n, chunk);
        written_to = at;
    }
    if (written_to < size) to.truncate(size);
}

void remove_quietly(const fs::path& path) noexcept { remove_file(path); }

// What killed repairs left at the working copies' names (the copy, a backup being copied),
// up to the first name nobody holds. The lock is ours, so no repair is writing them.
void remove_left_over_copies(const fs::path& database) {
    for (unsigned n = 0; n < max_name_attempts; ++n) {
        const fs::path name = working_name(database, n);
        std::error_code error;
        if (!fs::exists(fs::symlink_status(name, error))) return;
        if (left_by_a_killed_repair(name)) remove_quietly(name);
    }
}

// Creates a file at the first free working copy name; throws FileError.
NativeFile create_at_working_name(const fs::path& database, fs::path& path) {
    for (unsigned n = 0; n < max_name_attempts; ++n) {
        path = working_name(database, n);
        NativeFile file = NativeFile::create_new(path, NativeFile::Share::ReadersAndWriters);
        if (file.is_open()) return file;
    }
    path.clear();
    return NativeFile();
}

#ifndef _WIN32
// Gives the copy the database's owner (where allowed) and permission bits.
void copy_ownership_and_mode(const NativeFile& from, NativeFile& to) {
    struct stat st;
    if (::fstat(from.handle(), &st) != 0) return;
    // Changing the owner may clear set-id bits, so it goes first; it fails harmlessly for
    // users who may not give files away.
    [[maybe_unused]] const int owned = ::fchown(to.handle(), st.st_uid, st.st_gid);
    ::fchmod(to.handle(), st.st_mode & 07777);
}
#endif

}  // namespace

fs::path backup_name(const fs::path& database, unsigned n) {
    const std::string number = n <= 1 ? std::string() : " " + std::to_string(n);
    std::u8string name = database.stem().u8string();
    name += u8" (copia de seguridad";
    name.append(number.begin(), number.end());
    name += u8")";
    name += database.extension().u8string();
    return database.parent_path() / fs::path(name);
}

WorkingCopy::WorkingCopy(const DatabaseLock& database) : database_(database.path()), shown_(database.shown()) {
    database.require_writable();
    remove_left_over_copies(database_);
    try {
        file_ = create_at_working_name(database_, path_);
        if (file_.is_open()) scratch_.emplace(path_);
    } catch (const FileError& error) {
        path_.clear();
        if (error.disk_full()) fail_disk_full(shown_);
        if (error.access_denied()) fail_read_only_folder(shown_, database_);
        throw;
    }
    if (!file_.is_open()) {
        throw EngineError("No se puede reparar " + quoted(shown_) +
                          ": hay demasiadas copias de trabajo anteriores en su carpeta.");
    }
    try {
#ifndef _WIN32
        copy_ownership_and_mode(database.file(), file_);
#endif
        // Not flushed here: until the commit the copy is scratch that a crash may lose, and
        // the commit flushes it before it takes the database's place. Its bytes start going
        // to the disk now, while the fixes and the re-check run, so the flush waits less.
        copy_contents(database.file(), file_);
        file_.start_writeback();
    } catch (const FileError& error) {
        discard();
        if (error.disk_full()) fail_disk_full(shown_);
        throw;
    } catch (...) {
        discard();
        throw;
    }
}

WorkingCopy::~WorkingCopy() {
    if (!committed_) discard();
}

void WorkingCopy::discard() noexcept {
    scratch_.reset();
    file_.close();
    if (!path_.empty()) remove_quietly(path_);
    path_.clear();
}

void WorkingCopy::write_at(std::uint64_t offset, std::span<const std::uint8_t> data) {
    try {
        file_.write_at(offset, data);
    } catch (const FileError& error) {
        if (error.disk_full()) fail_disk_full(shown_);
        throw;
    }
}

#ifdef _WIN32

fs::path WorkingCopy::commit(DatabaseLock& database) {
    const SignalsHeldBack hold;  // a stop waits until the original and its backup are apart
    try {
        file_.sync();
    } catch (const FileError& error) {
        discard();
        if (error.disk_full()) fail_disk_full(shown_);
        throw;
    }
    file_.close();
    fs::path backup;
    for (unsigned n = 1; n <= max_name_attempts; ++n) {
        backup = backup_name(database_, n);
        if (GetFileAttributesW(extended_path(backup).c_str()) == INVALID_FILE_ATTRIBUTES &&
            GetLastError() == ERROR_FILE_NOT_FOUND)
            break;
        backup.clear();
    }
    if (backup.empty()) {
        discard();
        throw EngineError("No se puede reparar " + quoted(shown_) +
                          ": hay demasiadas copias de seguridad anteriores en su carpeta.");
    }
    // ReplaceFileW needs the database closed; it keeps its attributes and security.
    database.release();
    if (const int code = replace_file(database_, path_, backup); code != 0) {
        if (code == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
            // The original already carries the backup name: put it back.
            rename_file(backup, database_, false);
        }
        discard();
        throw EngineError("No se puede reemplazar " + quoted(shown_) + " por la copia reparada: " +
                          system_error_text(code) + ". La base de datos no se ha modificado.");
    }
    scratch_.reset();
    committed_ = true;
    return backup;
}

#else  // POSIX

namespace {

[[noreturn]] void fail_backup(const fs::path& backup, int code) {
    throw FileError("No se puede crear la copia de seguridad " + quoted(backup) + ": " + system_error_text(code) + ".",
                    code);
}

// Gives the flushed copy at `scratch` the first free backup name, never replacing a file.
fs::path name_backup(const fs::path& scratch, const fs::path& database) {
    for (unsigned n = 1; n <= max_name_attempts; ++n) {
        const fs::path backup = backup_name(database, n);
        int code = rename_file(scratch, backup, false);
        if (code == EINVAL) {
            // The file system cannot refuse to replace: the name is looked at first, under
            // the database's lock (only another repair of this database would take it).
            std::error_code error;
            if (fs::exists(fs::symlink_status(backup, error))) continue;
            code = rename_file(scratch, backup, true);
        }
        if (code == 0) return backup;
        if (code != EEXIST) fail_backup(backup, code);
    }
    return {};
}

// A backup by copying, for file systems without hard links. The bytes go to a working copy
// name and take the backup's name only once flushed: a stop or a power cut in between
// leaves scratch the next repair removes, never a backup holding part of the original.
fs::path copy_backup(const DatabaseLock& database) {
    fs::path scratch;
    NativeFile copy = create_at_working_name(database.path(), scratch);
    if (!copy.is_open()) return {};
    try {
        copy_ownership_and_mode(database.file(), copy);
        copy_contents(database.file(), copy);
        copy.sync();
        copy.close();
        const fs::path backup = name_backup(scratch, database.path());
        if (backup.empty()) remove_quietly(scratch);
        return backup;
    } catch (const FileError& error) {
        copy.close();
        remove_quietly(scratch);
        if (error.disk_full()) {
            throw EngineError("No se puede reparar " + quoted(database.shown()) +
                              ": no queda espacio en el disco para la copia de seguridad. La base de datos no se ha modificado.");
        }
        throw;
    }
}

// Keeps the original under the first free backup name; never replaces an existing file.
fs::path keep_backup(const DatabaseLock& database) {
    for (unsigned n = 1; n <= max_name_attempts; ++n) {
        const fs::path backup = backup_name(database.path(), n);
        const int code = link_file(database.path(), backup);
        if (code == 0) return backup;
        if (code == EEXIST) continue;
        if (code != EPERM && code != ENOTSUP && code != EOPNOTSUPP && code != EMLINK && code != EXDEV)
            fail_backup(backup, code);
        if (fs::path copied = copy_backup(database); !copied.empty()) return copied;
        break;
    }
    throw EngineError("No se puede reparar " + quoted(database.shown()) +
                      ": hay demasiadas copias de seguridad anteriores en su carpeta.");
}

}  // namespace

fs::path WorkingCopy::commit(DatabaseLock& database) {
    const SignalsHeldBack hold;  // a stop waits until the original and its backup are apart
    fs::path backup;
    try {
        file_.sync();
        if (!database.still_holds_path()) {
            throw EngineError("La base de datos " + quoted(shown_) +
                              " ha sido sustituida por otro programa durante la reparación. No se ha modificado.");
        }
        backup = keep_backup(database);
        sync_directory(folder_of(database_));
        if (const int code = rename_file(path_, database_, true); code != 0) {
            throw FileError("No se puede reemplazar " + quoted(shown_) + " por la copia reparada: " +
                                system_error_text(code) + ".",
                            code);
        }
    } catch (const FileError& error) {
        if (!backup.empty()) remove_quietly(backup);
        discard();
        if (error.disk_full()) fail_disk_full(shown_);
        throw;
    } catch (...) {
        if (!backup.empty()) remove_quietly(backup);
        discard();
        throw;
    }
    scratch_.reset();
    committed_ = true;
    file_.close();
    // The rename is done; a failure to flush the folder now cannot undo it.
    try {
        sync_directory(folder_of(database_));
    } catch (const FileError&) {
    }
    return backup;
}

#endif

}  // namespace jet
