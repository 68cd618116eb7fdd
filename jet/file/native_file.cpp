#include "jet/file/native_file.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace jet {

namespace {

std::atomic<testing::WriteFault> write_fault{nullptr};
std::atomic<testing::StepHook> step_hook{nullptr};

// What the test hook says of a step: 0 (go ahead; always so in the product), an error code
// or testing::skip_step.
int hooked(const testing::FileStep& step) {
    const testing::StepHook hook = step_hook.load(std::memory_order_relaxed);
    return hook == nullptr ? 0 : hook(step);
}

#ifdef _WIN32
const NativeFile::Handle invalid_handle = INVALID_HANDLE_VALUE;
int last_error() { return static_cast<int>(GetLastError()); }
#else
const NativeFile::Handle invalid_handle = -1;
int last_error() { return errno; }
#endif

[[noreturn]] void fail(const char* action, const std::filesystem::path& path, int code) {
    throw FileError(std::string(action) + " «" + display_path(path) + "»: " + system_error_text(code) + ".", code);
}

// The test seams' say on a write, the same on every platform: false when a test skips it
// (a write the disk never made); throws what a test injects.
bool write_goes_ahead(const std::filesystem::path& path, std::uint64_t offset, std::span<const std::uint8_t> data) {
    if (auto fault = write_fault.load(); fault != nullptr) {
        if (const int code = fault(path, offset); code != 0) fail("No se puede escribir en", path, code);
    }
    const int code = hooked({testing::StepKind::Write, path, nullptr, offset, data});
    if (code == testing::skip_step) return false;
    if (code != 0) fail("No se puede escribir en", path, code);
    return true;
}

}  // namespace

void testing::set_write_fault(WriteFault fault) { write_fault.store(fault); }
void testing::set_step_hook(StepHook hook) { step_hook.store(hook); }

#ifdef _WIN32

std::filesystem::path extended_path(const std::filesystem::path& path) {
    // Folders stop at 248 characters, files at 259: from 248 on, the names a repair derives
    // from a database's (its working copy, backup, recovery file) may pass the limit.
    constexpr std::size_t from = 248;
    const std::wstring& text = path.native();
    if (text.starts_with(L"\\\\?\\") || text.starts_with(L"\\\\.\\")) return path;
    std::error_code error;
    std::wstring full = std::filesystem::absolute(path, error).native();  // GetFullPathNameW: no "..", no "/"
    if (error || full.size() < from) return path;
    std::replace(full.begin(), full.end(), L'/', L'\\');
    if (full.starts_with(L"\\\\")) return std::filesystem::path(L"\\\\?\\UNC\\" + full.substr(2));
    return std::filesystem::path(L"\\\\?\\" + full);
}

bool remove_file(const std::filesystem::path& path) noexcept {
    if (hooked({testing::StepKind::Remove, path}) != 0) return false;
    try {
        return DeleteFileW(extended_path(path).c_str()) != 0;
    } catch (...) {
        return false;
    }
}

int replace_file(const std::filesystem::path& database, const std::filesystem::path& replacement,
                 const std::filesystem::path& backup) {
    if (const int code = hooked({testing::StepKind::Replace, replacement, &database, 0, {}, true, &backup}); code != 0)
        return code == testing::skip_step ? 0 : code;
    return ReplaceFileW(extended_path(database).c_str(), extended_path(replacement).c_str(),
                        extended_path(backup).c_str(), REPLACEFILE_WRITE_THROUGH, nullptr, nullptr)
               ? 0
               : last_error();
}

int rename_file(const std::filesystem::path& from, const std::filesystem::path& to, bool replace) {
    if (const int code = hooked({testing::StepKind::Rename, from, &to, 0, {}, replace}); code != 0)
        return code == testing::skip_step ? 0 : code;
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    return MoveFileExW(extended_path(from).c_str(), extended_path(to).c_str(), flags) ? 0 : last_error();
}

namespace {
DWORD share_mode(NativeFile::Share share) {
    switch (share) {
    case NativeFile::Share::Exclusive: return 0;
    case NativeFile::Share::Readers: return FILE_SHARE_READ;
    case NativeFile::Share::ReadersAndWriters: return FILE_SHARE_READ | FILE_SHARE_WRITE;
    }
    return 0;
}
}  // namespace

bool FileError::disk_full() const noexcept {
    return code_ == ERROR_DISK_FULL || code_ == ERROR_HANDLE_DISK_FULL;
}
bool FileError::access_denied() const noexcept {
    return code_ == ERROR_ACCESS_DENIED || code_ == ERROR_WRITE_PROTECT;
}
bool FileError::not_found() const noexcept {
    return code_ == ERROR_FILE_NOT_FOUND || code_ == ERROR_PATH_NOT_FOUND;
}

#else

std::filesystem::path extended_path(const std::filesystem::path& path) { return path; }

bool remove_file(const std::filesystem::path& path) noexcept {
    if (hooked({testing::StepKind::Remove, path}) != 0) return false;
    std::error_code ignored;
    return std::filesystem::remove(path, ignored);
}

#endif

#ifdef _WIN32

std::string system_error_text(int code) {
    switch (code) {
    case ERROR_FILE_NOT_FOUND: return "el archivo no existe";
    case ERROR_PATH_NOT_FOUND: return "la carpeta no existe";
    case ERROR_ACCESS_DENIED: return "acceso denegado";
    case ERROR_WRITE_PROTECT: return "el disco está protegido contra escritura";
    case ERROR_SHARING_VIOLATION: return "el archivo está abierto en otro programa";
    case ERROR_LOCK_VIOLATION: return "otro programa tiene bloqueada una parte del archivo";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return "no queda espacio en el disco";
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return "ya existe un archivo con ese nombre";
    case ERROR_INVALID_NAME: return "el nombre no es válido";
    case ERROR_HANDLE_EOF: return "el archivo termina antes de lo esperado";
    default: return "error del sistema " + std::to_string(code);
    }
}

NativeFile NativeFile::open(const std::filesystem::path& path, Mode mode, Share share) {
    const DWORD access = mode == Mode::Read ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
    HANDLE h = CreateFileW(extended_path(path).c_str(), access, share_mode(share), nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) fail("No se puede abrir", path, last_error());
    return NativeFile(h, path);
}

NativeFile NativeFile::create_new(const std::filesystem::path& path, Share share) {
    if (const int code = hooked({testing::StepKind::Create, path}); code != 0) {
        if (code == testing::skip_step) return NativeFile();
        fail("No se puede crear", path, code);
    }
    return create_exclusive(path, share, false);
}

NativeFile NativeFile::create_exclusive(const std::filesystem::path& path, Share share, bool temporary) {
    const DWORD flags = temporary ? FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE : FILE_ATTRIBUTE_NORMAL;
    HANDLE h = CreateFileW(extended_path(path).c_str(), GENERIC_READ | GENERIC_WRITE, share_mode(share), nullptr,
                           CREATE_NEW, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const int code = last_error();
        if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS) return NativeFile();
        fail("No se puede crear", path, code);
    }
    return NativeFile(h, path);
}

std::uint64_t NativeFile::size() const {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(handle_, &size)) fail("No se puede leer", path_, last_error());
    return static_cast<std::uint64_t>(size.QuadPart);
}

void NativeFile::read_at(std::uint64_t offset, std::span<std::uint8_t> out) const {
    std::size_t done = 0;
    while (done < out.size()) {
        OVERLAPPED at{};
        const std::uint64_t where = offset + done;
        at.Offset = static_cast<DWORD>(where);
        at.OffsetHigh = static_cast<DWORD>(where >> 32);
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(out.size() - done, 1u << 30));
        DWORD got = 0;
        if (!ReadFile(handle_, out.data() + done, want, &got, &at)) {
            const int code = last_error();
            fail("No se puede leer", path_, code == ERROR_HANDLE_EOF ? ERROR_HANDLE_EOF : code);
        }
        if (got == 0) fail("No se puede leer", path_, ERROR_HANDLE_EOF);
        done += got;
    }
}

void NativeFile::write_at(std::uint64_t offset, std::span<const std::uint8_t> data) {
    if (!scratch_ && !write_goes_ahead(path_, offset, data)) return;
    std::size_t done = 0;
    while (done < data.size()) {
        OVERLAPPED at{};
        const std::uint64_t where = offset + done;
        at.Offset = static_cast<DWORD>(where);
        at.OffsetHigh = static_cast<DWORD>(where >> 32);
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(data.size() - done, 1u << 30));
        DWORD put = 0;
        if (!WriteFile(handle_, data.data() + done, want, &put, &at)) fail("No se puede escribir en", path_, last_error());
        done += put;
    }
}

void NativeFile::truncate(std::uint64_t size) {
    if (const int code = hooked({testing::StepKind::Truncate, path_, nullptr, size}); code != 0) {
        if (code == testing::skip_step) return;
        fail("No se puede escribir en", path_, code);
    }
    LARGE_INTEGER where;
    where.QuadPart = static_cast<LONGLONG>(size);
    if (!SetFilePointerEx(handle_, where, nullptr, FILE_BEGIN) || !SetEndOfFile(handle_))
        fail("No se puede escribir en", path_, last_error());
}

void NativeFile::sync() {
    if (const int code = hooked({testing::StepKind::SyncFile, path_}); code != 0) {
        if (code == testing::skip_step) return;
        fail("No se puede escribir en", path_, code);
    }
    if (!FlushFileBuffers(handle_)) fail("No se puede escribir en", path_, last_error());
}

void NativeFile::close() noexcept {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
}

void NativeFile::start_writeback() noexcept {}

void sync_directory(const std::filesystem::path&) {}

#else  // POSIX

bool FileError::disk_full() const noexcept { return code_ == ENOSPC || code_ == EDQUOT; }
bool FileError::access_denied() const noexcept { return code_ == EACCES || code_ == EPERM || code_ == EROFS; }
bool FileError::not_found() const noexcept { return code_ == ENOENT || code_ == ENOTDIR; }

std::string system_error_text(int code) {
    switch (code) {
    case ENOENT: return "el archivo no existe";
    case ENOTDIR: return "una parte de la ruta no es una carpeta";
    case EACCES:
    case EPERM: return "acceso denegado";
    case EROFS: return "el sistema de archivos es de solo lectura";
    case ENOSPC: return "no queda espacio en el disco";
    case EDQUOT: return "se ha agotado la cuota de disco";
    case EIO: return "error de entrada/salida en el dispositivo";
    case EISDIR: return "es una carpeta, no un archivo";
    case ENAMETOOLONG: return "el nombre es demasiado largo";
    case EBUSY:
    case ETXTBSY: return "el archivo está en uso";
    case EEXIST: return "ya existe un archivo con ese nombre";
    case EMFILE:
    case ENFILE: return "hay demasiados archivos abiertos";
    case EFBIG: return "el archivo es demasiado grande";
    case 0: return "el archivo termina antes de lo esperado";
    default: return "error del sistema " + std::to_string(code);
    }
}

NativeFile NativeFile::open(const std::filesystem::path& path, Mode mode, Share) {
    const int flags = (mode == Mode::Read ? O_RDONLY : O_RDWR) | O_CLOEXEC;
    int fd;
    do fd = ::open(path.c_str(), flags);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) fail("No se puede abrir", path, last_error());
    return NativeFile(fd, path);
}

NativeFile NativeFile::create_new(const std::filesystem::path& path, Share share) {
    if (const int code = hooked({testing::StepKind::Create, path}); code != 0) {
        if (code == testing::skip_step) return NativeFile();
        fail("No se puede crear", path, code);
    }
    return create_exclusive(path, share, false);
}

NativeFile NativeFile::create_exclusive(const std::filesystem::path& path, Share, bool temporary) {
    int fd;
    do fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        if (errno == EEXIST) return NativeFile();
        fail("No se puede crear", path, last_error());
    }
    if (temporary) ::unlink(path.c_str());  // the open descriptor keeps it until closed
    return NativeFile(fd, path);
}

std::uint64_t NativeFile::size() const {
    struct stat st;
    if (::fstat(handle_, &st) != 0) fail("No se puede leer", path_, last_error());
    return static_cast<std::uint64_t>(st.st_size);
}

void NativeFile::read_at(std::uint64_t offset, std::span<std::uint8_t> out) const {
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t got = ::pread(handle_, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
        if (got < 0) {
            if (errno == EINTR) continue;
            fail("No se puede leer", path_, last_error());
        }
        if (got == 0) fail("No se puede leer", path_, 0);
        done += static_cast<std::size_t>(got);
    }
}

void NativeFile::write_at(std::uint64_t offset, std::span<const std::uint8_t> data) {
    if (!scratch_ && !write_goes_ahead(path_, offset, data)) return;
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t put = ::pwrite(handle_, data.data() + done, data.size() - done, static_cast<off_t>(offset + done));
        if (put < 0) {
            if (errno == EINTR) continue;
            fail("No se puede escribir en", path_, last_error());
        }
        done += static_cast<std::size_t>(put);
    }
}

void NativeFile::truncate(std::uint64_t size) {
    if (const int code = hooked({testing::StepKind::Truncate, path_, nullptr, size}); code != 0) {
        if (code == testing::skip_step) return;
        fail("No se puede escribir en", path_, code);
    }
    if (::ftruncate(handle_, static_cast<off_t>(size)) != 0) fail("No se puede escribir en", path_, last_error());
}

void NativeFile::sync() {
    if (const int code = hooked({testing::StepKind::SyncFile, path_}); code != 0) {
        if (code == testing::skip_step) return;
        fail("No se puede escribir en", path_, code);
    }
    if (::fsync(handle_) != 0) fail("No se puede escribir en", path_, last_error());
}

void NativeFile::start_writeback() noexcept {
#ifdef __linux__
    // Errors surface at sync(), which the caller still makes.
    (void)::sync_file_range(handle_, 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
}

void NativeFile::close() noexcept {
    if (handle_ >= 0) ::close(handle_);
    handle_ = -1;
}

void sync_directory(const std::filesystem::path& directory) {
    const std::filesystem::path dir = directory.empty() ? std::filesystem::path(".") : directory;
    if (const int code = hooked({testing::StepKind::SyncFolder, dir}); code != 0) {
        if (code == testing::skip_step) return;
        fail("No se puede escribir en la carpeta", dir, code);
    }
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) fail("No se puede abrir la carpeta", dir, last_error());
    // Some file systems refuse fsync on a directory (EINVAL); their entries are then durable anyway.
    if (::fsync(fd) != 0 && errno != EINVAL) {
        const int code = errno;
        ::close(fd);
        fail("No se puede escribir en la carpeta", dir, code);
    }
    ::close(fd);
}

int link_file(const std::filesystem::path& existing, const std::filesystem::path& name) {
    if (const int code = hooked({testing::StepKind::Link, existing, &name}); code != 0)
        return code == testing::skip_step ? 0 : code;
    return ::link(existing.c_str(), name.c_str()) == 0 ? 0 : errno;
}

int rename_file(const std::filesystem::path& from, const std::filesystem::path& to, bool replace) {
    if (const int code = hooked({testing::StepKind::Rename, from, &to, 0, {}, replace}); code != 0)
        return code == testing::skip_step ? 0 : code;
    if (replace) return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    return errno == ENOSYS ? EINVAL : errno;
#else
    return EINVAL;
#endif
}

#endif

bool NativeFile::is_open() const noexcept { return handle_ != invalid_handle; }

NativeFile::NativeFile(NativeFile&& other) noexcept
    : handle_(std::exchange(other.handle_, invalid_handle)), path_(std::move(other.path_)), scratch_(other.scratch_) {}

NativeFile NativeFile::create_temporary(const std::filesystem::path& prefix) {
    for (unsigned n = 1; n <= 1000; ++n) {
        std::filesystem::path name = prefix;
        name += "-" + std::to_string(n) + ".tmp";
        NativeFile f = create_exclusive(name, Share::Exclusive, true);
        if (!f.is_open()) continue;
        f.scratch_ = true;
        return f;
    }
#ifdef _WIN32
    fail("No se puede crear", prefix, ERROR_FILE_EXISTS);
#else
    fail("No se puede crear", prefix, EEXIST);
#endif
}

NativeFile& NativeFile::operator=(NativeFile&& other) noexcept {
    if (this != &other) {
        close();
        handle_ = std::exchange(other.handle_, invalid_handle);
        path_ = std::move(other.path_);
        scratch_ = other.scratch_;
    }
    return *this;
}

NativeFile::~NativeFile() { close(); }

}  // namespace jet
