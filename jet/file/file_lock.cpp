#include "jet/file/file_lock.h"

#include "jet/file/safe_commit.h"

#include <cerrno>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace jet {

namespace fs = std::filesystem;

namespace {

std::string quoted(const fs::path& path) { return "«" + display_path(path) + "»"; }

fs::path folder_of(const fs::path& path) {
    const fs::path parent = path.parent_path();
    return parent.empty() ? fs::path(".") : parent;
}

[[noreturn]] void refuse(const std::string& description) { throw EngineError(description); }

[[noreturn]] void refuse_in_use(const fs::path& database) {
    refuse("La base de datos " + quoted(database) +
           " está abierta en otro programa o se está reparando en otro proceso. "
           "Ciérrela y vuelva a intentarlo.");
}

// Access keeps its lock file beside the path it opened: the link's or the file's own.
void refuse_if_lock_file_is_live(const fs::path& database, const fs::path& given) {
    for (const fs::path& opened : {given, database})
        for (const fs::path& lock_file : lock_file_candidates(opened)) {
            if (has_live_locks(lock_file)) {
                refuse("La base de datos " + quoted(given) + " está abierta en otro programa: su archivo de bloqueo " +
                       quoted(lock_file.filename()) + " está en uso. Ciérrela y vuelva a intentarlo.");
            }
        }
}

#ifdef _WIN32
// Whether the path passes through a reparse point: a junction or a symbolic link, of the
// file or of a folder on the way (drive roots aside).
bool through_reparse_point(const fs::path& database) {
    std::error_code error;
    const fs::path full = fs::absolute(database, error);
    if (error) return false;
    fs::path at = full.root_path();
    for (const fs::path& part : full.relative_path()) {
        at /= part;
        const DWORD attributes = GetFileAttributesW(extended_path(at).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return true;
    }
    return false;
}

// The path the system reaches a file by, every junction and link followed; empty when the
// file cannot be reached. Comes in the "\\?\" form, dropped where the path is short.
fs::path final_path(const fs::path& database) {
    HANDLE h = CreateFileW(extended_path(database).c_str(), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return {};
    std::wstring name(1024, L'\0');
    DWORD length = GetFinalPathNameByHandleW(h, name.data(), DWORD(name.size()), FILE_NAME_NORMALIZED);
    if (length >= name.size()) {
        name.resize(length + 1);
        length = GetFinalPathNameByHandleW(h, name.data(), DWORD(name.size()), FILE_NAME_NORMALIZED);
    }
    CloseHandle(h);
    if (length == 0 || length >= name.size()) return {};
    name.resize(length);
    if (name.starts_with(L"\\\\?\\UNC\\")) name.replace(0, 8, L"\\\\");
    else if (name.starts_with(L"\\\\?\\")) name.erase(0, 4);
    return extended_path(fs::path(name));
}

// A junction or a symbolic link leads to the file the repair must replace; a path as long
// as the old limit allows or longer is used in the form that lifts it.
fs::path where_it_lives(const fs::path& database) {
    if (!through_reparse_point(database)) return extended_path(database);
    fs::path real = final_path(database);
    if (real.empty()) {
        refuse("No se encuentra la base de datos " + quoted(database) +
               ": es un enlace o una unión de carpetas que no lleva a ningún archivo.");
    }
    return real;
}
#else
// A symbolic link (or a chain of them) leads to the file the repair must replace.
fs::path where_it_lives(const fs::path& database) {
    std::error_code error;
    if (!fs::is_symlink(fs::symlink_status(database, error))) return database;
    fs::path real = fs::canonical(database, error);
    if (error) {
        refuse("No se encuentra la base de datos " + quoted(database) +
               ": es un enlace simbólico que no lleva a ningún archivo.");
    }
    return real;
}
#endif

void refuse_several_names(const fs::path& database, unsigned long links) {
    refuse("No se puede reparar " + quoted(database) + ": el archivo tiene " + std::to_string(links) +
           " nombres (enlaces físicos) y, al sustituirlo por la copia reparada, los demás nombres seguirían "
           "llevando al archivo sin reparar. Haga una copia de la base de datos con un solo nombre y repare esa "
           "copia. La base de datos no se ha modificado.");
}

void refuse_read_only_file(const fs::path& database) {
    refuse("No se puede reparar " + quoted(database) +
           ": el archivo es de solo lectura o no tiene permiso para modificarlo.");
}

void refuse_read_only_folder(const fs::path& database, const fs::path& real) {
    refuse("No se puede reparar " + quoted(database) + ": la carpeta " + quoted(folder_of(real)) +
           " es de solo lectura o no tiene permiso para escribir en ella.");
}

}  // namespace

std::vector<fs::path> lock_file_candidates(const fs::path& database) {
    fs::path ldb = database;
    fs::path laccdb = database;
    return {ldb.replace_extension(".ldb"), laccdb.replace_extension(".laccdb")};
}

#ifdef _WIN32

bool has_live_locks(const fs::path& path) {
    // Access keeps its lock file open while the database is open: asking for it with no
    // sharing fails exactly then.
    HANDLE h = CreateFileW(extended_path(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
        return false;
    }
    const DWORD code = GetLastError();
    return code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION;
}

DatabaseLock::DatabaseLock(const fs::path& given) : shown_(given) {
    if (given.empty()) refuse("No se ha indicado ninguna base de datos.");
    path_ = where_it_lives(given);
    const fs::path& database = path_;
    const DWORD attributes = GetFileAttributesW(extended_path(database).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND || code == ERROR_INVALID_NAME)
            refuse("No se encuentra la base de datos " + quoted(given) + ".");
        refuse("No se puede abrir " + quoted(given) + ": " + system_error_text(static_cast<int>(code)) + ".");
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) refuse(quoted(given) + " es una carpeta, no una base de datos.");
    file_writable_ = (attributes & FILE_ATTRIBUTE_READONLY) == 0;
    // A folder's read-only attribute means nothing on Windows; creating the working copy
    // tells whether the folder can be written.
    folder_writable_ = true;
    refuse_if_lock_file_is_live(database, given);
    const auto open_held = [&](NativeFile::Mode mode) {
        // Nobody else may open it at all while the repair runs; the engine reads it through
        // this handle.
        file_ = NativeFile::open(database, mode, NativeFile::Share::Exclusive);
    };
    try {
        try {
            open_held(file_writable_ ? NativeFile::Mode::ReadWrite : NativeFile::Mode::Read);
        } catch (const FileError& error) {
            if (!file_writable_ || !error.access_denied()) throw;
            file_writable_ = false;  // no permission to write: hold it for reading
            open_held(NativeFile::Mode::Read);
        }
    } catch (const FileError& error) {
        if (error.code() == ERROR_SHARING_VIOLATION || error.code() == ERROR_LOCK_VIOLATION) refuse_in_use(given);
        throw;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(file_.handle(), &info)) links_ = info.nNumberOfLinks;
}

bool DatabaseLock::still_holds_path() const { return file_.is_open(); }

#else  // POSIX

namespace {

// Probes for a conflicting lock with an open-file-description query where the system has
// one, so locks held by this very process (another repair in a thread) are seen too.
bool probe_lock(int fd) {
    struct flock query{};
    query.l_type = F_WRLCK;
    query.l_whence = SEEK_SET;
    query.l_start = 0;
    query.l_len = 0;  // to the end of any possible file
#ifdef F_OFD_GETLK
    if (::fcntl(fd, F_OFD_GETLK, &query) != 0) return false;
#else
    if (::fcntl(fd, F_GETLK, &query) != 0) return false;
#endif
    return query.l_type != F_UNLCK;
}

// Takes a lock on the whole database without waiting: exclusive when the file is open for
// writing, shared otherwise. An open-file-description lock conflicts with the byte-range
// locks other programs take on the database and with a second repair, also one in this
// process.
bool take_lock(int fd, bool exclusive) {
#ifdef F_OFD_SETLK
    struct flock request{};
    request.l_type = exclusive ? F_WRLCK : F_RDLCK;
    request.l_whence = SEEK_SET;
    request.l_start = 0;
    request.l_len = 0;
    if (::fcntl(fd, F_OFD_SETLK, &request) == 0) return true;
    return false;
#else
    return ::flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0;
#endif
}

// A repair stopped between taking its backup (a second name for the database) and putting
// the repaired copy in place leaves the database under that name too. Such a name is a
// backup of the very bytes at the path, which the next commit leaves as they are: it does
// not count as another name.
unsigned long backup_names_of(const fs::path& database, const struct stat& st) {
    constexpr unsigned max_backups = 1000;  // as many as a commit tries
    unsigned long found = 0;
    for (unsigned n = 1; n <= max_backups && found + 1 < st.st_nlink; ++n) {
        struct stat other;
        const fs::path name = backup_name(database, n);
        if (::lstat(name.c_str(), &other) == 0 && other.st_dev == st.st_dev && other.st_ino == st.st_ino) ++found;
    }
    return found;
}

bool writable(const fs::path& path, const struct stat& st) {
    // The permission bits count even for a superuser, whom access() lets write anything.
    return (st.st_mode & 0222) != 0 && ::access(path.c_str(), W_OK) == 0;
}

}  // namespace

bool has_live_locks(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        // A lock file we cannot even read may well be live: do not guess in favour of writing.
        return errno != ENOENT && errno != ENOTDIR;
    }
    const bool live = probe_lock(fd);
    ::close(fd);
    return live;
}

DatabaseLock::DatabaseLock(const fs::path& given) : shown_(given) {
    if (given.empty()) refuse("No se ha indicado ninguna base de datos.");
    path_ = where_it_lives(given);
    const fs::path& database = path_;
    struct stat st;
    if (::stat(database.c_str(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) refuse("No se encuentra la base de datos " + quoted(given) + ".");
        refuse("No se puede abrir " + quoted(given) + ": " + system_error_text(errno) + ".");
    }
    if (S_ISDIR(st.st_mode)) refuse(quoted(given) + " es una carpeta, no una base de datos.");
    if (!S_ISREG(st.st_mode)) refuse(quoted(given) + " no es un archivo normal.");
    links_ = static_cast<unsigned long>(st.st_nlink);
    if (links_ > 1) links_ -= backup_names_of(database, st);
    file_writable_ = writable(database, st);
    struct stat folder;
    const fs::path dir = folder_of(database);
    folder_writable_ = ::stat(dir.c_str(), &folder) == 0 && writable(dir, folder);

    refuse_if_lock_file_is_live(database, given);

    file_ = NativeFile::open(database, file_writable_ ? NativeFile::Mode::ReadWrite : NativeFile::Mode::Read);
    if (probe_lock(file_.handle()) || !take_lock(file_.handle(), file_writable_)) refuse_in_use(given);
    // A repair that committed between our stat and our lock replaced the file at the path.
    if (!still_holds_path()) refuse_in_use(given);
}

bool DatabaseLock::still_holds_path() const {
    if (!file_.is_open()) return false;
    struct stat held;
    struct stat named;
    if (::fstat(file_.handle(), &held) != 0 || ::stat(path_.c_str(), &named) != 0) return false;
    return held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

#endif

void DatabaseLock::require_writable() const {
    if (!file_writable_) refuse_read_only_file(shown_);
    if (!folder_writable_) refuse_read_only_folder(shown_, path_);
    if (links_ > 1) refuse_several_names(shown_, links_);
}

}  // namespace jet
