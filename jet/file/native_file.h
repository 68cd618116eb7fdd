#pragma once
// One open file of the operating system (POSIX descriptor or Win32 handle), read and
// written at explicit offsets. Errors become EngineError with a Spanish description.
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

#include "jet/base/engine_error.h"

namespace jet {

// A failed system call on a file: the Spanish description plus the system's error code,
// so callers can tell a full disk or a refusal from other failures.
class FileError : public EngineError {
public:
    FileError(const std::string& description, int code) : EngineError(description), code_(code) {}
    int code() const noexcept { return code_; }
    bool disk_full() const noexcept;
    bool access_denied() const noexcept;
    bool not_found() const noexcept;

private:
    int code_;
};

// The name to hand the system for a path. On Windows, a path whose full form reaches the
// old 260-character limit becomes absolute with the "\\?\" prefix, which lifts the limit;
// any other path (and every path on POSIX) stays as it is.
std::filesystem::path extended_path(const std::filesystem::path& path);

class NativeFile {
public:
#ifdef _WIN32
    using Handle = void*;
#else
    using Handle = int;
#endif
    enum class Mode { Read, ReadWrite };
    // Share: on Windows, what other openers may do meanwhile (no effect on POSIX).
    enum class Share { Exclusive, Readers, ReadersAndWriters };

    NativeFile() = default;
    NativeFile(NativeFile&& other) noexcept;
    NativeFile& operator=(NativeFile&& other) noexcept;
    NativeFile(const NativeFile&) = delete;
    NativeFile& operator=(const NativeFile&) = delete;
    ~NativeFile();

    // Opens an existing file; throws EngineError naming it when that fails.
    static NativeFile open(const std::filesystem::path& path, Mode mode, Share share = Share::Readers);
    // Creates a new file that must not exist yet (O_EXCL / CREATE_NEW). Returns an empty
    // NativeFile when the name is taken; throws on any other failure.
    static NativeFile create_new(const std::filesystem::path& path, Share share = Share::Readers);
    // A scratch file named `prefix` + "-N.tmp" (the first N free), that no other program
    // opens and that goes away when closed or when the process ends however it ends
    // (unlinked at once on POSIX, delete-on-close on Windows). Its reads and writes are
    // not steps of a commit.
    static NativeFile create_temporary(const std::filesystem::path& prefix);

    bool is_open() const noexcept;
    Handle handle() const noexcept { return handle_; }
    const std::filesystem::path& path() const noexcept { return path_; }

    std::uint64_t size() const;
    // Reads exactly out.size() bytes at offset; throws if the file ends first.
    void read_at(std::uint64_t offset, std::span<std::uint8_t> out) const;
    void write_at(std::uint64_t offset, std::span<const std::uint8_t> data);
    void truncate(std::uint64_t size);
    // Flushes data and metadata to the device.
    void sync();
    // Asks the system to start writing the file's data out now, without waiting: a later
    // sync() then has less to wait for. A hint only; where there is no such call, nothing.
    void start_writeback() noexcept;
    void close() noexcept;

private:
    NativeFile(Handle handle, std::filesystem::path path) : handle_(handle), path_(std::move(path)) {}
    // create_new without the step hook; `temporary`: gone once closed (see create_temporary).
    static NativeFile create_exclusive(const std::filesystem::path& path, Share share, bool temporary);
#ifdef _WIN32
    Handle handle_ = reinterpret_cast<void*>(static_cast<std::intptr_t>(-1));
#else
    Handle handle_ = -1;
#endif
    std::filesystem::path path_;
    bool scratch_ = false;  // a temporary file: no step hooks
};

// Flushes a directory entry change (create, link, rename) to the device. No-op on Windows,
// where the write-through flags of the move do it.
void sync_directory(const std::filesystem::path& directory);

// Removes a file; false when it was not there or could not be removed. Never throws.
bool remove_file(const std::filesystem::path& path) noexcept;

#ifdef _WIN32
// Puts `replacement` in the place of `database`, which is kept under the name `backup`
// (ReplaceFileW, written through); 0 or the system error code.
int replace_file(const std::filesystem::path& database, const std::filesystem::path& replacement,
                 const std::filesystem::path& backup);
#else
// A second name for a file (hard link); 0 or the system error code.
int link_file(const std::filesystem::path& existing, const std::filesystem::path& name);
#endif
// Moves a file to a new name; with `replace` false, fails with EEXIST (Windows:
// ERROR_ALREADY_EXISTS) rather than take the
// place of an existing file (where the file system cannot promise that, EINVAL). 0 or the
// system error code.
int rename_file(const std::filesystem::path& from, const std::filesystem::path& to, bool replace);

// Spanish description of an operating-system error code (errno / GetLastError()).
std::string system_error_text(int code);

namespace testing {
// Test seam: when set, called before each write; a non-zero result is raised as that
// system error (e.g. ENOSPC) instead of writing. Cleared by passing nullptr.
using WriteFault = int (*)(const std::filesystem::path& file, std::uint64_t offset);
void set_write_fault(WriteFault fault);

// Test seam: every change the engine makes to files and folders (the functions above and
// NativeFile's create_new, write_at, truncate and sync) is shown to the hook before it is
// made, so a test can record a repair's steps and stop it, or cut the power, at any of them.
enum class StepKind { Create, Write, Truncate, SyncFile, SyncFolder, Link, Rename, Remove, Replace };
struct FileStep {
    StepKind kind;
    const std::filesystem::path& path;           // the file; the folder for SyncFolder; Link's, Rename's source;
                                                 // Replace's replacement
    const std::filesystem::path* to = nullptr;   // Link's and Rename's new name; the file Replace replaces
    std::uint64_t offset = 0;                    // Write: where; Truncate: the new size
    std::span<const std::uint8_t> data = {};     // Write
    bool replace = false;                        // Rename: may take the place of a file at `to`
    const std::filesystem::path* backup = nullptr;  // Replace: the name the replaced file keeps
};
// The hook's answer: 0 lets the step happen, a system error code makes it fail with that
// error, skip_step passes it over as if done (the process is taken as gone). It may throw,
// except for Remove, which runs in cleanup that must not. Cleared by passing nullptr.
constexpr int skip_step = -1;
using StepHook = int (*)(const FileStep& step);
void set_step_hook(StepHook hook);
}  // namespace testing

}  // namespace jet
