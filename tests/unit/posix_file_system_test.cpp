// The POSIX file-system object against temporary folders standing in for the
// current drive and drive A, alone and under Form1's fixed-set operations.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fakes.h"
#include "form1_access.h"
#include "platform/failure.h"
#include "platform/posix/posix_file_system.h"
#include "temp_folder.h"

namespace fs = std::filesystem;
using platform::DriveMap;
using platform::resolve_dos_path;

namespace {

std::u16string failure_of(const std::function<void()>& action) {
    try {
        action();
    } catch (const platform::Failure& failure) {
        return failure.description();
    }
    return u"(sin fallo)";
}

class PosixFileSystemTest : public ::testing::Test {
protected:
    fs::path root() const { return temp.path() / "unidad"; }
    fs::path drive_a() const { return temp.path() / "disquete"; }
    void SetUp() override {
        fs::create_directories(root());
        fs::create_directories(drive_a());
    }
    TempFolder temp;
    platform::PosixFileSystemFactory factory{root(), drive_a()};
    std::unique_ptr<platform::FileSystemObject> files = factory.create(u"Scripting.FileSystemObject");
};

TEST(DosPath, RootedPathsLieUnderTheCurrentDriveRoot) {
    const DriveMap drives{"/mnt/unidad", "/media/floppy", false};
    EXPECT_EQ(resolve_dos_path(u"\\vendrilo\\drok.comp", drives).path, fs::path("/mnt/unidad/vendrilo/drok.comp"));
    EXPECT_EQ(resolve_dos_path(u"datos\\x.mdb", drives).path, fs::path("datos/x.mdb"));
}

TEST(DosPath, DriveAMapsToItsMountPointOrIsNotReady) {
    TempFolder temp;
    const DriveMap present{"/", temp.path(), false};
    EXPECT_EQ(resolve_dos_path(u"a:\\pelso.qev", present).path, temp.path() / "pelso.qev");
    EXPECT_EQ(resolve_dos_path(u"A:pelso.qev", present).path, temp.path() / "pelso.qev");

    const DriveMap missing{"/", temp.path() / "no-existe", false};
    EXPECT_EQ(resolve_dos_path(u"a:\\pelso.qev", missing).failure, u"El disco no está preparado");
    // A plain folder is no diskette when drive A must be a mounted file system.
    const DriveMap unmounted{"/", temp.path(), true};
    EXPECT_EQ(resolve_dos_path(u"a:\\pelso.qev", unmounted).failure, u"El disco no está preparado");
    EXPECT_EQ(resolve_dos_path(u"c:\\pelso.qev", present).failure, u"No se encontró la ruta de acceso");
}

TEST(DosPath, CurrentDriveRootIsTheMountHoldingTheCurrentFolder) {
    const auto root = platform::current_drive_root();
    EXPECT_TRUE(platform::is_mount_point(root)) << root;
    const auto cwd = fs::current_path().string();
    EXPECT_EQ(cwd.rfind(root.string(), 0), 0u) << cwd << " / " << root;
    EXPECT_TRUE(platform::is_mount_point("/"));
    TempFolder temp;
    fs::create_directories(temp.path() / "sub");
    EXPECT_FALSE(platform::is_mount_point(temp.path() / "sub"));
}

TEST_F(PosixFileSystemTest, OnlyTheScriptingClassCanBeCreated) {
    EXPECT_EQ(failure_of([&] { factory.create(u"Scripting.Dictionary"); }),
              u"No se puede crear un objeto de la clase Scripting.Dictionary");
}

TEST_F(PosixFileSystemTest, FileExistsSeesFilesOnly) {
    write_file(root() / "vendrilo" / "año con espacios.comp", "x");
    EXPECT_TRUE(files->file_exists(u"\\vendrilo\\año con espacios.comp"));
    EXPECT_FALSE(files->file_exists(u"\\vendrilo"));
    EXPECT_FALSE(files->file_exists(u"\\vendrilo\\otro.comp"));
    fs::remove(drive_a());
    EXPECT_FALSE(files->file_exists(u"a:\\pelso.qev"));
}

TEST_F(PosixFileSystemTest, DeleteRemovesAWritableFile) {
    write_file(root() / "vendrilo" / "drok.comp", "x");
    files->delete_file(u"\\vendrilo\\drok.comp");
    EXPECT_FALSE(fs::exists(root() / "vendrilo" / "drok.comp"));
}

TEST_F(PosixFileSystemTest, DeleteRefusesWhatItMustNotRemove) {
    write_file(root() / "vendrilo" / "drok.comp", "conservar");
    make_read_only(root() / "vendrilo" / "drok.comp");
    EXPECT_EQ(failure_of([&] { files->delete_file(u"\\vendrilo\\drok.comp"); }), u"Permiso denegado");
    EXPECT_EQ(read_file(root() / "vendrilo" / "drok.comp"), "conservar");

    EXPECT_EQ(failure_of([&] { files->delete_file(u"\\vendrilo\\falta.comp"); }), u"No se encontró el archivo");
    EXPECT_EQ(failure_of([&] { files->delete_file(u"\\no-hay\\falta.comp"); }),
              u"No se encontró la ruta de acceso");
    EXPECT_EQ(failure_of([&] { files->delete_file(u"\\vendrilo"); }), u"No se encontró el archivo");
    EXPECT_TRUE(fs::is_directory(root() / "vendrilo"));
}

TEST_F(PosixFileSystemTest, CopyWritesTheBytesAndOverwrites) {
    const std::string bytes("Base\0de\xff" "datos", 13);
    write_file(root() / "vendrilo" / "pelso ñ.qev", bytes);
    write_file(drive_a() / "pelso ñ.qev", "vieja copia más larga que la nueva");
    files->copy_file(u"\\vendrilo\\pelso ñ.qev", u"a:\\pelso ñ.qev");
    EXPECT_EQ(read_file(drive_a() / "pelso ñ.qev"), bytes);
    EXPECT_EQ(std::distance(fs::directory_iterator(drive_a()), {}), 1) << "no temporary file left behind";

    EXPECT_EQ(failure_of([&] { files->copy_file(u"\\vendrilo\\pelso ñ.qev", u"\\vendrilo\\"); }),
              u"Permiso denegado");
    EXPECT_EQ(read_file(root() / "vendrilo" / "pelso ñ.qev"), bytes) << "copying onto itself loses nothing";
}

TEST_F(PosixFileSystemTest, CopyIntoAFolderNamedWithATrailingSeparator) {
    write_file(root() / "vendrilo" / "pelso.qev", "abc");
    files->copy_file(u"\\vendrilo\\pelso.qev", u"a:\\");
    EXPECT_EQ(read_file(drive_a() / "pelso.qev"), "abc");
}

TEST_F(PosixFileSystemTest, FailedCopiesWriteNothing) {
    write_file(root() / "vendrilo" / "pelso.qev", "nueva");
    EXPECT_EQ(failure_of([&] { files->copy_file(u"\\vendrilo\\falta.qev", u"a:\\falta.qev"); }),
              u"No se encontró el archivo");
    EXPECT_EQ(failure_of([&] { files->copy_file(u"\\vendrilo", u"a:\\vendrilo"); }), u"No se encontró el archivo");
    EXPECT_EQ(failure_of([&] { files->copy_file(u"\\vendrilo\\pelso.qev", u"a:\\sin carpeta\\pelso.qev"); }),
              u"No se encontró la ruta de acceso");
    EXPECT_TRUE(fs::is_empty(drive_a()));

    write_file(drive_a() / "pelso.qev", "protegida");
    make_read_only(drive_a() / "pelso.qev");
    EXPECT_EQ(failure_of([&] { files->copy_file(u"\\vendrilo\\pelso.qev", u"a:\\pelso.qev"); }),
              u"Permiso denegado");
    EXPECT_EQ(read_file(drive_a() / "pelso.qev"), "protegida");

    fs::create_directories(drive_a() / "carpeta");
    EXPECT_EQ(failure_of([&] { files->copy_file(u"\\vendrilo\\pelso.qev", u"a:\\carpeta"); }), u"Permiso denegado");
}

TEST_F(PosixFileSystemTest, MissingDriveAIsNotReady) {
    write_file(root() / "vendrilo" / "pelso.qev", "x");
    fs::remove(drive_a());
    EXPECT_EQ(failure_of([&] { files->copy_file(u"\\vendrilo\\pelso.qev", u"a:\\pelso.qev"); }),
              u"El disco no está preparado");
    EXPECT_FALSE(fs::exists(drive_a()));
}

// Form1's fixed-set operations over the real object.
class FixedSetOnDiskTest : public PosixFileSystemTest {
protected:
    FixedSetOnDiskTest() { Form1TestAccess::empty_engine_slot(); }
    fs::path set(const char* name) const { return root() / "vendrilo" / name; }
    fakes::Log log;
    fakes::WindowSystem windows{log};
    fakes::DatabaseEngineFactory engines{log};
    Form1 form{platform::Services{windows, engines, factory}};
};

TEST_F(FixedSetOnDiskTest, DeletesTheCompFilesThatExist) {
    write_file(set("pelso.comp"), "x");
    write_file(set("pelso2.comp"), "x");
    write_file(set("pelso.qev"), "base");
    form.BorraBasesComp();
    EXPECT_FALSE(fs::exists(set("pelso.comp")));
    EXPECT_FALSE(fs::exists(set("pelso2.comp")));
    EXPECT_TRUE(fs::exists(set("pelso.qev")));
    form.BorraBasesComp();  // nothing left to delete is no failure
}

TEST_F(FixedSetOnDiskTest, ReadOnlyFirstFileStopsTheDeletion) {
    for (const char* name : {"drok.comp", "pelso.comp", "drok2.comp", "pelso2.comp"}) write_file(set(name), "x");
    make_read_only(set("drok.comp"));
    EXPECT_EQ(failure_of([&] { form.BorraBasesComp(); }), u"Permiso denegado");
    for (const char* name : {"drok.comp", "pelso.comp", "drok2.comp", "pelso2.comp"})
        EXPECT_TRUE(fs::exists(set(name))) << name;
}

TEST_F(FixedSetOnDiskTest, CopiesReportTheirOwnFailures) {
    write_file(set("pelso2.qev"), "pelso2");
    Form1TestAccess::CopiaPelso2(form);
    EXPECT_EQ(read_file(drive_a() / "pelso2.qev"), "pelso2");

    Form1TestAccess::CopiaPelso(form);  // its source is missing
    ASSERT_EQ(windows.box.shown.size(), 1u);
    EXPECT_EQ(windows.box.shown[0].text, u"No se encontró el archivo");
    EXPECT_EQ(windows.box.shown[0].caption, u"Tarsolin");

    fs::remove_all(drive_a());
    write_file(set("pelso.qev"), "pelso");
    Form1TestAccess::CopiaPelso(form);
    EXPECT_EQ(windows.box.shown.at(1).text, u"El disco no está preparado");
    EXPECT_FALSE(fs::exists(drive_a()));
}

}  // namespace
