#include "platform/posix/posix_file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/failure.h"

namespace platform {

namespace {

constexpr char16_t kFileNotFound[] = u"No se encontró el archivo";
constexpr char16_t kPathNotFound[] = u"No se encontró la ruta de acceso";
constexpr char16_t kPermissionDenied[] = u"Permiso denegado";

bool directory_exists(const std::filesystem::path& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A missing file in an existing folder is "file not found"; a missing folder is "path not found".
[[noreturn]] void throw_missing(const std::filesystem::path& path) {
    const auto parent = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    throw Failure(directory_exists(parent) ? kFileNotFound : kPathNotFound);
}

[[noreturn]] void throw_errno(int error, const std::filesystem::path& path) {
    switch (error) {
        case ENOENT: throw_missing(path);
        case ENOTDIR: throw Failure(kPathNotFound);
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
        case ETXTBSY:
        case EBUSY: throw Failure(kPermissionDenied);
        case ENOSPC:
        case EDQUOT:
        case EFBIG: throw Failure(u"Disco lleno");
        case ENAMETOOLONG: throw Failure(u"Nombre o número de archivo incorrecto");
        case ENOMEDIUM:
        case ENODEV:
        case ENXIO: throw Failure(u"El disco no está preparado");
        default: throw Failure(u"Error de entrada/salida en el dispositivo");
    }
}

// Owner's write permission stands in for the read-only attribute.
bool read_only(const struct stat& st) { return (st.st_mode & S_IWUSR) == 0; }

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    int release_and_close() {
        const int result = ::close(fd_);
        fd_ = -1;
        return result;
    }

private:
    int fd_;
};

void write_all(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw errno;
        data += n;
        size -= static_cast<size_t>(n);
    }
}

// Copies through a temporary file beside the destination and renames it into
// place, so a failed copy (full or pulled diskette) leaves the old destination intact.
void copy_contents(const std::filesystem::path& source, const struct stat& source_stat,
                   const std::filesystem::path& destination) {
    Descriptor in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0) throw_errno(errno, source);

    std::string temp = (destination.parent_path() / ("." + destination.filename().string() + ".XXXXXX")).string();
    Descriptor out(::mkostemp(temp.data(), O_CLOEXEC));
    if (out.get() < 0) throw_errno(errno, destination);
    try {
        char buffer[1 << 16];
        for (;;) {
            const ssize_t n = ::read(in.get(), buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) throw errno;
            if (n == 0) break;
            write_all(out.get(), buffer, static_cast<size_t>(n));
        }
        if (::fchmod(out.get(), source_stat.st_mode & 07777) != 0) throw errno;
        if (::fsync(out.get()) != 0) throw errno;
        if (out.release_and_close() != 0) throw errno;
        if (::rename(temp.c_str(), destination.c_str()) != 0) throw errno;
    } catch (int error) {
        ::unlink(temp.c_str());
        throw_errno(error, destination);
    }
}

}  // namespace

PosixFileSystem::PosixFileSystem(DriveMap drives) : drives_(std::move(drives)) {}

std::filesystem::path PosixFileSystem::resolve(const std::u16string& path) const {
    auto resolved = resolve_dos_path(path, drives_);
    if (!resolved.ok()) throw Failure(resolved.failure);
    return resolved.path;
}

bool PosixFileSystem::file_exists(const std::u16string& path) {
    const auto resolved = resolve_dos_path(path, drives_);
    if (!resolved.ok()) return false;
    struct stat st {};
    return ::stat(resolved.path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

void PosixFileSystem::delete_file(const std::u16string& path) {
    const auto target = resolve(path);
    struct stat st {};
    if (::lstat(target.c_str(), &st) != 0) throw_errno(errno, target);
    if (S_ISDIR(st.st_mode)) throw Failure(kFileNotFound);
    if (!S_ISLNK(st.st_mode) && read_only(st)) throw Failure(kPermissionDenied);
    if (::unlink(target.c_str()) != 0) throw_errno(errno, target);
}

void PosixFileSystem::copy_file(const std::u16string& source, const std::u16string& destination) {
    const auto from = resolve(source);
    auto to = resolve(destination);

    struct stat from_stat {};
    if (::stat(from.c_str(), &from_stat) != 0) throw_errno(errno, from);
    if (S_ISDIR(from_stat.st_mode)) throw Failure(kFileNotFound);

    // A destination ending in a separator names the folder to copy into.
    if (!destination.empty() && (destination.back() == u'\\' || destination.back() == u'/'))
        to /= from.filename();
    if (!directory_exists(to.has_parent_path() ? to.parent_path() : ".")) throw Failure(kPathNotFound);

    struct stat to_stat {};
    if (::stat(to.c_str(), &to_stat) == 0) {
        if (S_ISDIR(to_stat.st_mode) || read_only(to_stat)) throw Failure(kPermissionDenied);
        if (to_stat.st_dev == from_stat.st_dev && to_stat.st_ino == from_stat.st_ino)
            throw Failure(kPermissionDenied);
    }
    copy_contents(from, from_stat, to);
}

PosixFileSystemFactory::PosixFileSystemFactory(std::filesystem::path current_drive_root,
                                               std::filesystem::path drive_a)
    : drives_(DriveMap{std::move(current_drive_root), std::move(drive_a), false}) {}

std::unique_ptr<FileSystemObject> PosixFileSystemFactory::create(const std::u16string& class_name) {
    if (class_name != u"Scripting.FileSystemObject")
        throw Failure(u"No se puede crear un objeto de la clase " + class_name);
    if (drives_) return std::make_unique<PosixFileSystem>(*drives_);
    return std::make_unique<PosixFileSystem>(DriveMap{current_drive_root(), kDriveAMountPoint, true});
}

}  // namespace platform
