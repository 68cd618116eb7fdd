// The engine on Windows paths: a database deeper than the old 260-character limit and one
// reached through a junction (or a folder link) is checked and repaired where it lives,
// the link left as it was and the messages naming the path given; and the commit's
// ReplaceFileW is a step the test seam sees and can stop.
//   paths_test [filter]   (run by tests/wine/run.sh; D:\enlace, when there, is a folder
//   link the script made for systems that cannot make junctions)
#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "check.h"
#include "jet/engine.h"
#include "jet/file/native_file.h"
#include "jet/index/key_sorter.h"
#include "jet/repair/repair.h"

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

namespace {

std::wstring windows_path(const char* unix_path) {
    std::wstring path = L"Z:";
    for (const char* p = unix_path; *p; ++p) path += *p == '/' ? L'\\' : static_cast<wchar_t>(*p);
    return path;
}

// Long names are read and written through the "\\?\" form, as the engine does.
Bytes read_bytes(const fs::path& path) {
    std::ifstream in(jet::extended_path(path), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void write_bytes(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(jet::extended_path(path), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<std::wstring> names_in(const fs::path& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileW((jet::extended_path(folder).wstring() + L"\\*").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
        if (std::wcscmp(found.cFileName, L".") != 0 && std::wcscmp(found.cFileName, L"..") != 0)
            names.push_back(found.cFileName);
    } while (FindNextFileW(h, &found));
    FindClose(h);
    std::sort(names.begin(), names.end());
    return names;
}

// A fresh folder under the temporary folder.
fs::path fresh_folder(const wchar_t* name) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const fs::path folder = fs::path(temp) / (std::wstring(name) + std::to_wstring(GetCurrentProcessId()));
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

// A corpus file cut off after a torn append: the repair must rewrite it (the tail goes to
// the recovery file), so every file a repair makes is there to look for.
struct Damaged {
    Bytes intact, damaged;
};
Damaged torn_corpus_file() {
    const std::wstring source = windows_path(TARSOLIN_CORPUS_DIR "/jackcess/V2000/test2V2000.mdb");
    Damaged d{read_bytes(source), {}};
    if (d.intact.empty()) check::skip("corpus file not found: " + check::printable(source));
    d.damaged = d.intact;
    const std::size_t half_page = d.intact[0x14] == 0 ? 1024 : 2048;
    for (std::size_t i = 0; i < half_page; ++i) d.damaged.push_back(static_cast<unsigned char>(i * 7 + 3));
    return d;
}

// What a repair of folder\real.mdb reached as `given` must leave: the repaired bytes at
// the real path, the original as its backup and the torn tail in the recovery file, all
// in the real folder, nothing else; the next check clean.
void expect_repaired_in(const fs::path& folder, const fs::path& given, const Damaged& d) {
    const fs::path real = folder / L"real.mdb";
    const jet::Report report = jet::repair_database(given);
    CHECK(read_bytes(real) == d.intact);
    CHECK_EQ(jet::display_path(report.backup), jet::display_path(folder / L"real (copia de seguridad).mdb"));
    CHECK(read_bytes(report.backup) == d.damaged);
    CHECK_EQ(jet::display_path(report.recovery), jet::display_path(folder / L"real (datos recuperados).jsonl"));
    CHECK(names_in(folder) == (std::vector<std::wstring>{L"real (copia de seguridad).mdb",
                                                         L"real (datos recuperados).jsonl", L"real.mdb"}));
    CHECK(jet::check_database(given).findings.empty());
}

// A refusal must name the path as the user gave it.
void expect_refusal_names(const fs::path& given, const fs::path& real) {
    SetFileAttributesW(jet::extended_path(real).c_str(), FILE_ATTRIBUTE_READONLY);
    try {
        jet::repair_database(given);
        check::fail(__FILE__, __LINE__, "a read-only database was repaired");
    } catch (const jet::EngineError& error) {
        const std::string text = error.what();
        CHECK(text.find("«" + jet::display_path(given) + "»") != std::string::npos);
        CHECK(text.find("\\\\?\\") == std::string::npos);
    }
    SetFileAttributesW(jet::extended_path(real).c_str(), FILE_ATTRIBUTE_NORMAL);
}

void remove_tree(const fs::path& folder) {
    for (const std::wstring& name : names_in(folder)) {
        const fs::path entry = folder / name;
        const DWORD attributes = GetFileAttributesW(jet::extended_path(entry).c_str());
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) remove_tree(entry);
        else if (attributes & FILE_ATTRIBUTE_DIRECTORY) RemoveDirectoryW(jet::extended_path(entry).c_str());
        else DeleteFileW(jet::extended_path(entry).c_str());
    }
    RemoveDirectoryW(jet::extended_path(folder).c_str());
}

TEST_CASE("a database deeper than 260 characters is checked and repaired in place") {
    const Damaged d = torn_corpus_file();
    const fs::path top = fresh_folder(L"largo");
    fs::path folder = top;
    for (wchar_t letter = L'a'; folder.native().size() < 300; ++letter) {
        folder /= std::wstring(50, letter);
        REQUIRE(CreateDirectoryW(jet::extended_path(folder).c_str(), nullptr));
    }
    const fs::path given = folder / L"real.mdb";
    REQUIRE(given.native().size() > MAX_PATH);
    write_bytes(given, d.damaged);
    CHECK(!jet::check_database(given).findings.empty());
    expect_refusal_names(given, given);
    expect_repaired_in(folder, given, d);
    remove_tree(top);
}

// A junction from `link` to `target`, made as mklink /J does; false where the file system
// or the system cannot make one.
bool make_junction(const fs::path& link, const fs::path& target) {
    if (!CreateDirectoryW(link.c_str(), nullptr)) return false;
    HANDLE h = CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const std::wstring substitute = L"\\??\\" + target.wstring();
    const std::size_t names = (substitute.size() + 1 + 1) * sizeof(wchar_t);  // substitute, empty print name
    std::vector<unsigned char> buffer(8 + 8 + names);
    auto put16 = [&](std::size_t at, std::size_t value) {
        buffer[at] = static_cast<unsigned char>(value);
        buffer[at + 1] = static_cast<unsigned char>(value >> 8);
    };
    const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
    std::memcpy(buffer.data(), &tag, 4);
    put16(4, 8 + names);                                   // data length
    put16(8, 0);                                           // substitute name offset
    put16(10, substitute.size() * sizeof(wchar_t));        // and length
    put16(12, (substitute.size() + 1) * sizeof(wchar_t));  // print name offset, length 0
    std::memcpy(buffer.data() + 16, substitute.c_str(), (substitute.size() + 1) * sizeof(wchar_t));
    DWORD returned = 0;
    const BOOL made = DeviceIoControl(h, FSCTL_SET_REPARSE_POINT, buffer.data(), DWORD(buffer.size()), nullptr, 0,
                                      &returned, nullptr);
    CloseHandle(h);
    if (!made) RemoveDirectoryW(link.c_str());
    return made;
}

bool is_reparse_point(const fs::path& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

TEST_CASE("a database reached through a junction is repaired where it lives") {
    const Damaged d = torn_corpus_file();
    fs::path folder = fresh_folder(L"union");
    fs::path real = folder / L"datos";
    fs::path link = folder / L"enlace";
    REQUIRE(CreateDirectoryW(real.c_str(), nullptr));
    if (!make_junction(link, real)) {
        // Wine cannot make junctions (FSCTL_SET_REPARSE_POINT fails); the folder link
        // run.sh made is one it shows as a reparse point.
        std::printf("  (no junction here, error %lu: the script's folder link D:\\enlace instead)\n", GetLastError());
        remove_tree(folder);
        folder = L"D:\\";
        real = L"D:\\datos";
        link = L"D:\\enlace";
        if (!is_reparse_point(link)) check::skip("neither a junction nor a folder link can be made here");
    }
    REQUIRE(is_reparse_point(link));
    const fs::path given = link / L"real.mdb";
    write_bytes(real / L"real.mdb", d.damaged);
    CHECK(!jet::check_database(given).findings.empty());
    expect_refusal_names(given, real / L"real.mdb");
    expect_repaired_in(real, given, d);
    CHECK(is_reparse_point(link));  // the link is still a link, to the same folder
    CHECK(names_in(link) == names_in(real));
    for (const std::wstring& name : names_in(real)) DeleteFileW((real / name).c_str());
    if (folder != L"D:\\") {
        RemoveDirectoryW(link.c_str());
        remove_tree(folder);
    }
}

// The steps the seam saw, for one repair at a time.
std::vector<jet::testing::StepKind> seen;
int stop_at_replace = 0;
int record_step(const jet::testing::FileStep& step) {
    seen.push_back(step.kind);
    if (step.kind == jet::testing::StepKind::Replace) {
        CHECK(step.to != nullptr && step.backup != nullptr);
        if (step.to && step.backup) {
            CHECK_EQ(step.to->filename().wstring(), std::wstring(L"real.mdb"));
            CHECK_EQ(step.backup->filename().wstring(), std::wstring(L"real (copia de seguridad).mdb"));
        }
        return stop_at_replace;
    }
    return 0;
}

TEST_CASE("the commit's ReplaceFileW goes through the step seam, which can stop it") {
    const Damaged d = torn_corpus_file();
    const fs::path folder = fresh_folder(L"pasos");
    const fs::path database = folder / L"real.mdb";
    write_bytes(database, d.damaged);
    jet::testing::set_step_hook(record_step);
    stop_at_replace = ERROR_ACCESS_DENIED;
    try {
        jet::repair_database(database);
        check::fail(__FILE__, __LINE__, "the repair went on past a refused replace");
    } catch (const jet::EngineError& error) {
        CHECK(std::string(error.what()).find("acceso denegado") != std::string::npos);
    }
    CHECK(std::count(seen.begin(), seen.end(), jet::testing::StepKind::Replace) == 1);
    CHECK(read_bytes(database) == d.damaged);
    CHECK(names_in(folder) == std::vector<std::wstring>{L"real.mdb"});

    seen.clear();
    stop_at_replace = 0;
    expect_repaired_in(folder, database, d);
    jet::testing::set_step_hook(nullptr);
    CHECK(std::count(seen.begin(), seen.end(), jet::testing::StepKind::Replace) == 1);
    remove_tree(folder);
}

// The index rebuild sorts a large table's keys in runs on a scratch file opened
// delete-on-close: they read back in order, and nothing is left in the folder.
TEST_CASE("keys sorted in runs on a scratch file leave nothing behind") {
    const fs::path folder = fresh_folder(L"claves");
    {
        jet::KeySorter keys({256, folder / L"datos.claves"});
        for (uint32_t i = 0; i < 2000; ++i) {
            const Bytes key = {0x7F, static_cast<unsigned char>((i * 7919) >> 8 & 0xFF), static_cast<unsigned char>(i * 7919)};
            keys.add(key, {100 + i / 50, static_cast<uint8_t>(i % 50)});
        }
        keys.finish();
        CHECK(keys.runs() > 10);
        CHECK(names_in(folder) == std::vector<std::wstring>{L"datos.claves-1.tmp"});  // while open
        jet::SortedEntry e;
        size_t n = 0;
        Bytes last;
        for (auto r = keys.read(); r.next(e); ++n) {
            const Bytes key(e.key.begin(), e.key.end());
            CHECK(n == 0 || last <= key);
            last = key;
        }
        CHECK_EQ(n, size_t{2000});
    }
    CHECK(names_in(folder).empty());
    remove_tree(folder);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::string filter;
    if (argc > 1)
        for (const wchar_t* p = argv[1]; *p; ++p) filter += static_cast<char>(*p);
    return check::run_all(filter);
}
