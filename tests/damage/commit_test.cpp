// The rules of the safe commit: exclusive access, refusals that leave everything as it
// was, a working copy beside the database, and a backup that never overwrites a file.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <optional>

#include "jet/engine.h"
#include "jet/file/file_lock.h"
#include "jet/file/interrupt_cleanup.h"
#include "jet/file/recovery_file.h"
#include "jet/file/safe_commit.h"
#include "temp_folder.h"

namespace fs = std::filesystem;
using damage::read_bytes;
using damage::TempFolder;
using damage::write_bytes;

namespace {

std::vector<std::uint8_t> sample_bytes(std::size_t size, std::uint8_t seed) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * 7 + (i >> 9));
    return bytes;
}

std::string refusal_of(const fs::path& database) {
    try {
        jet::DatabaseLock lock(database);
    } catch (const jet::EngineError& error) {
        return error.what();
    }
    return {};
}

// The refusal met when a repair has something to write.
std::string write_refusal_of(const fs::path& database) {
    try {
        jet::DatabaseLock lock(database);
        jet::WorkingCopy copy(lock);
    } catch (const jet::EngineError& error) {
        return error.what();
    }
    return {};
}

// Runs body in a child process that signals once it is ready and then waits until the
// parent closes the pipe; the parent's check runs while the child holds what it took.
class ChildHolding {
public:
    template <typename Body>
    explicit ChildHolding(Body body) {
        int ready[2];
        int release[2];
        if (::pipe(ready) != 0 || ::pipe(release) != 0) throw std::runtime_error("pipe");
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            ::close(release[1]);
            bool ok = false;
            try {
                ok = body();
            } catch (...) {
            }
            const char c = ok ? 'y' : 'n';
            [[maybe_unused]] auto w = ::write(ready[1], &c, 1);
            char d;
            [[maybe_unused]] auto r = ::read(release[0], &d, 1);
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(release[0]);
        release_fd_ = release[1];
        char c = 'n';
        [[maybe_unused]] auto r = ::read(ready[0], &c, 1);
        ::close(ready[0]);
        ok_ = c == 'y';
    }
    ~ChildHolding() {
        ::close(release_fd_);
        int status;
        ::waitpid(pid_, &status, 0);
    }
    bool ok() const { return ok_; }

private:
    pid_t pid_ = -1;
    int release_fd_ = -1;
    bool ok_ = false;
};

bool take_classic_lock(const fs::path& path, short type) {
    const int fd = ::open(path.c_str(), O_RDWR);
    if (fd < 0) return false;
    struct flock lock{};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0x10000000;  // Jet locks far past the end of the lock file
    lock.l_len = 1;
    return ::fcntl(fd, F_SETLK, &lock) == 0;  // fd kept open: closing it would drop the lock
}

class CommitTest : public ::testing::Test {
protected:
    void SetUp() override {
        database = folder / "Clientes.mdb";
        original = sample_bytes(3 * 4096 + 100, 3);
        write_bytes(database, original);
        ::chmod(database.c_str(), 0640);
    }
    // Beside the test's folder, so that the folder holds only what the repair leaves.
    fs::path said_file() const { return folder.path().string() + ".err"; }
    TempFolder folder;
    fs::path database;
    std::vector<std::uint8_t> original;
};

}  // namespace

TEST_F(CommitTest, CommitPutsTheCopyInPlaceAndKeepsTheOriginalAsBackup) {
    jet::DatabaseLock lock(database);
    jet::WorkingCopy copy(lock);
    EXPECT_EQ(copy.path().parent_path(), database.parent_path());
    EXPECT_EQ(read_bytes(copy.path()), original);
    const std::uint8_t patch[] = {0xAB, 0xCD};
    copy.write_at(4096, patch);
    const fs::path backup = copy.commit(lock);

    EXPECT_EQ(backup, folder / "Clientes (copia de seguridad).mdb");
    EXPECT_EQ(read_bytes(backup), original);
    auto repaired = original;
    repaired[4096] = 0xAB;
    repaired[4097] = 0xCD;
    EXPECT_EQ(read_bytes(database), repaired);
    EXPECT_EQ(folder.entries(), (std::vector<std::string>{"Clientes (copia de seguridad).mdb", "Clientes.mdb"}));
}

TEST_F(CommitTest, PermissionsAreKeptOnTheRepairedFile) {
    ::chmod(database.c_str(), 0604);
    jet::DatabaseLock lock(database);
    jet::WorkingCopy copy(lock);
    struct stat st;
    ASSERT_EQ(::stat(copy.path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0604u) << "the working copy already has them";
    copy.commit(lock);
    ASSERT_EQ(::stat(database.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0604u);
}

TEST_F(CommitTest, BackupNeverOverwritesAnExistingFile) {
    const auto first = sample_bytes(10, 40);
    const auto second = sample_bytes(11, 41);
    write_bytes(folder / "Clientes (copia de seguridad).mdb", first);
    write_bytes(folder / "Clientes (copia de seguridad 2).mdb", second);
    {
        jet::DatabaseLock lock(database);
        jet::WorkingCopy copy(lock);
        EXPECT_EQ(copy.commit(lock), folder / "Clientes (copia de seguridad 3).mdb");
    }
    EXPECT_EQ(read_bytes(folder / "Clientes (copia de seguridad).mdb"), first);
    EXPECT_EQ(read_bytes(folder / "Clientes (copia de seguridad 2).mdb"), second);
    EXPECT_EQ(read_bytes(folder / "Clientes (copia de seguridad 3).mdb"), original);
}

TEST_F(CommitTest, WorkingCopyNameAlreadyTakenIsLeftAlone) {
    const auto stray = sample_bytes(5, 9);
    write_bytes(folder / "Clientes.mdb.reparando", stray);
    {
        jet::DatabaseLock lock(database);
        jet::WorkingCopy copy(lock);
        EXPECT_EQ(copy.path(), folder / "Clientes.mdb.reparando.1");
    }
    EXPECT_EQ(read_bytes(folder / "Clientes.mdb.reparando"), stray);
    EXPECT_EQ(folder.entries(), (std::vector<std::string>{"Clientes.mdb", "Clientes.mdb.reparando"}));
}

TEST_F(CommitTest, WorkingCopyLeftByAKilledRepairIsReplaced) {
    std::vector<std::uint8_t> left(4096, 0x5A);
    const std::string signature = std::string("\x00\x01\x00\x00", 4) + "Standard Jet DB";
    std::copy(signature.begin(), signature.end(), left.begin());
    write_bytes(folder / "Clientes.mdb.reparando", left);
    jet::DatabaseLock lock(database);
    jet::WorkingCopy copy(lock);
    EXPECT_EQ(copy.path(), folder / "Clientes.mdb.reparando");
    EXPECT_EQ(read_bytes(copy.path()), original);
}

// A repair stopped by a signal, in a child process: where it stood when the signal came
// decides what the user finds, and the signal still ends the process.
struct Stopped {
    int signal = 0;
    std::string said;  // the child's standard error
};

template <typename Body>
Stopped stopped_in_child(const fs::path& said_file, Body body) {
    const pid_t child = ::fork();
    if (child == 0) {
        const int err = ::open(said_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(err, 2);
        jet::remove_unfinished_repair_on_signal("reparación interrumpida\n");
        try {
            body();
        } catch (...) {
        }
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    const auto said = read_bytes(said_file);
    fs::remove(said_file);
    return {WIFSIGNALED(status) ? WTERMSIG(status) : 0, std::string(said.begin(), said.end())};
}

TEST_F(CommitTest, StopBeforeTheCommitLeavesTheDatabaseAndNothingElse) {
    const Stopped stop = stopped_in_child(said_file(), [&] {
        jet::DatabaseLock lock(database);
        jet::WorkingCopy copy(lock);
        const std::uint8_t patch[] = {1, 2, 3};
        copy.write_at(0, patch);
        jet::RecoveryFile recovery(database);
        recovery.save(jet::RecoveredItem{"Clientes", 2, 0, {}, "prueba", {}, {1, 2}});
        ::raise(SIGTERM);
    });
    EXPECT_EQ(stop.signal, SIGTERM);
    EXPECT_EQ(stop.said, "reparación interrumpida\n");
    EXPECT_EQ(read_bytes(database), original);
    EXPECT_EQ(folder.entries(), std::vector<std::string>{"Clientes.mdb"});
}

TEST_F(CommitTest, StopDuringTheCommitWaitsForItsEnd) {
    const Stopped stop = stopped_in_child(said_file(), [&] {
        jet::DatabaseLock lock(database);
        jet::WorkingCopy copy(lock);
        const std::uint8_t patch[] = {1, 2, 3};
        copy.write_at(0, patch);
        jet::RecoveryFile recovery(database);
        recovery.save(jet::RecoveredItem{"Clientes", 2, 0, {}, "prueba", {}, {1, 2}});
        const jet::SignalsHeldBack hold;
        ::raise(SIGTERM);
        copy.commit(lock);
        recovery.keep();
    });
    EXPECT_EQ(stop.signal, SIGTERM);
    EXPECT_EQ(stop.said, "") << "nothing was left unfinished";
    auto repaired = original;
    repaired[0] = 1;
    repaired[1] = 2;
    repaired[2] = 3;
    EXPECT_EQ(read_bytes(database), repaired);
    EXPECT_EQ(read_bytes(folder / "Clientes (copia de seguridad).mdb"), original);
    EXPECT_EQ(folder.entries(), (std::vector<std::string>{"Clientes (copia de seguridad).mdb",
                                                          "Clientes (datos recuperados).jsonl", "Clientes.mdb"}));
}

TEST_F(CommitTest, UncommittedCopyIsRemovedAndTheDatabaseUntouched) {
    struct stat before;
    ASSERT_EQ(::stat(database.c_str(), &before), 0);
    {
        jet::DatabaseLock lock(database);
        jet::WorkingCopy copy(lock);
        const std::uint8_t patch[] = {1, 2, 3};
        copy.write_at(0, patch);
    }
    struct stat after;
    ASSERT_EQ(::stat(database.c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ(read_bytes(database), original);
    EXPECT_EQ(folder.entries(), std::vector<std::string>{"Clientes.mdb"});
}

TEST_F(CommitTest, PathReplacedDuringTheRepairIsNotOverwritten) {
    jet::DatabaseLock lock(database);
    jet::WorkingCopy copy(lock);
    const auto other = sample_bytes(77, 1);
    write_bytes(folder / "other", other);
    fs::rename(folder / "other", database);
    EXPECT_THROW(copy.commit(lock), jet::EngineError);
    EXPECT_EQ(read_bytes(database), other);
    EXPECT_EQ(folder.entries(), std::vector<std::string>{"Clientes.mdb"});
}

TEST(DatabaseLockRefusal, MissingEmptyAndFolderPaths) {
    TempFolder folder;
    EXPECT_NE(refusal_of(folder / "nada.mdb").find("No se encuentra la base de datos"), std::string::npos);
    EXPECT_NE(refusal_of(folder / "nada.mdb").find("nada.mdb"), std::string::npos);
    EXPECT_EQ(refusal_of(""), "No se ha indicado ninguna base de datos.");
    EXPECT_NE(refusal_of(folder.path()).find("es una carpeta"), std::string::npos);
}

TEST_F(CommitTest, ReadOnlyFileIsRefusedOnceSomethingMustBeWritten) {
    ::chmod(database.c_str(), 0444);
    EXPECT_EQ(refusal_of(database), "") << "holding it to examine it is fine";
    const std::string refusal = write_refusal_of(database);
    EXPECT_NE(refusal.find("solo lectura"), std::string::npos) << refusal;
    EXPECT_NE(refusal.find("Clientes.mdb"), std::string::npos) << refusal;
    EXPECT_EQ(read_bytes(database), original);
    EXPECT_EQ(folder.entries(), std::vector<std::string>{"Clientes.mdb"});
}

TEST_F(CommitTest, ReadOnlyFolderIsRefusedOnceSomethingMustBeWritten) {
    ::chmod(folder.path().c_str(), 0555);
    EXPECT_EQ(refusal_of(database), "");
    const std::string refusal = write_refusal_of(database);
    ::chmod(folder.path().c_str(), 0755);
    EXPECT_NE(refusal.find("carpeta"), std::string::npos) << refusal;
    EXPECT_NE(refusal.find("solo lectura"), std::string::npos) << refusal;
    EXPECT_EQ(folder.entries(), std::vector<std::string>{"Clientes.mdb"});
}

TEST_F(CommitTest, LiveLockFileHeldByAnotherProcessIsRefused) {
    const fs::path ldb = folder / "Clientes.ldb";
    write_bytes(ldb, sample_bytes(64, 0));
    ChildHolding access([&] { return take_classic_lock(ldb, F_RDLCK); });
    ASSERT_TRUE(access.ok());
    const std::string refusal = refusal_of(database);
    EXPECT_NE(refusal.find("abierta en otro programa"), std::string::npos) << refusal;
    EXPECT_NE(refusal.find("Clientes.ldb"), std::string::npos) << refusal;
    EXPECT_TRUE(fs::exists(ldb));
}

TEST_F(CommitTest, LiveAceLockFileIsRefused) {
    const fs::path laccdb = folder / "Clientes.laccdb";
    write_bytes(laccdb, sample_bytes(64, 0));
    ChildHolding access([&] { return take_classic_lock(laccdb, F_WRLCK); });
    ASSERT_TRUE(access.ok());
    EXPECT_NE(refusal_of(database).find("Clientes.laccdb"), std::string::npos);
}

TEST_F(CommitTest, StaleLockFileIsNeitherARefusalNorDeleted) {
    const fs::path ldb = folder / "Clientes.ldb";
    const auto content = sample_bytes(128, 5);
    write_bytes(ldb, content);
    {
        jet::DatabaseLock lock(database);
        jet::WorkingCopy copy(lock);
        copy.commit(lock);
    }
    EXPECT_EQ(read_bytes(ldb), content);
}

TEST_F(CommitTest, DatabaseLockedByAnotherProgramIsRefused) {
    ChildHolding access([&] { return take_classic_lock(database, F_RDLCK); });
    ASSERT_TRUE(access.ok());
    EXPECT_NE(refusal_of(database).find("abierta en otro programa"), std::string::npos);
}

TEST_F(CommitTest, SecondRepairOfTheSameFileIsRefused) {
    {
        ChildHolding other([&] {
            jet::DatabaseLock* held = new jet::DatabaseLock(database);  // lives until the child exits
            return held != nullptr;
        });
        ASSERT_TRUE(other.ok());
        EXPECT_NE(refusal_of(database).find("se está reparando en otro proceso"), std::string::npos);
    }
    // In the same process too, and the lock ends with its holder.
    {
        jet::DatabaseLock first(database);
        EXPECT_FALSE(refusal_of(database).empty());
    }
    EXPECT_TRUE(refusal_of(database).empty());
}

namespace {
int disk_full_on_working_copy(const fs::path& file, std::uint64_t offset) {
    return file.string().find(".reparando") != std::string::npos && offset == 0 ? ENOSPC : 0;
}
}  // namespace

TEST_F(CommitTest, FullDiskWhileCopyingLeavesNothingBehind) {
    jet::testing::set_write_fault(disk_full_on_working_copy);
    std::string refusal;
    try {
        jet::DatabaseLock lock(database);
        jet::WorkingCopy copy(lock);
    } catch (const jet::EngineError& error) {
        refusal = error.what();
    }
    jet::testing::set_write_fault(nullptr);
    EXPECT_NE(refusal.find("no queda espacio en el disco"), std::string::npos) << refusal;
    EXPECT_NE(refusal.find("Clientes.mdb"), std::string::npos) << refusal;
    EXPECT_EQ(read_bytes(database), original);
    EXPECT_EQ(folder.entries(), std::vector<std::string>{"Clientes.mdb"});
}

// The same on a real full file system, where the system allows mounting one.
TEST(FullDisk, SmallFileSystemRefusesTheCopy) {
    TempFolder folder;
    if (::mount("tmpfs", folder.path().c_str(), "tmpfs", 0, "size=64k") != 0) {
        GTEST_SKIP() << "cannot mount a small tmpfs here (" << std::strerror(errno) << "); the write-fault test covers it";
    }
    const fs::path database = folder / "Grande.accdb";
    const auto original = sample_bytes(40 * 1024, 8);
    std::string refusal;
    std::vector<std::string> left;
    try {
        write_bytes(database, original);
        jet::DatabaseLock lock(database);
        jet::WorkingCopy copy(lock);
    } catch (const jet::EngineError& error) {
        refusal = error.what();
    }
    left = folder.entries();
    const auto kept = read_bytes(database);
    ::umount(folder.path().c_str());
    EXPECT_NE(refusal.find("no queda espacio en el disco"), std::string::npos) << refusal;
    EXPECT_EQ(kept, original);
    EXPECT_EQ(left, std::vector<std::string>{"Grande.accdb"});
}

TEST(BackupName, KeepsTheExtensionAndCounts) {
    EXPECT_EQ(jet::backup_name("/d/Base.accdb", 1), fs::path("/d/Base (copia de seguridad).accdb"));
    EXPECT_EQ(jet::backup_name("/d/Base.accdb", 2), fs::path("/d/Base (copia de seguridad 2).accdb"));
    EXPECT_EQ(jet::backup_name("Año.mdb", 1), fs::path("Año (copia de seguridad).mdb"));
}
