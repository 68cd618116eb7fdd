// Peak memory of reading every row of a database as the file grows. A corpus file is
// grown by appending copies of one data page of its largest table and pointing that
// table's page map at them (a reference map), so the reader really visits every copy.
// Each measurement runs in a child process; its peak RSS comes from wait4().
//
//   bench_dump_memory [FILE.mdb|.accdb] [MAX_MB]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "jet/format/data_page.h"
#include "jet/format/database.h"

namespace fs = std::filesystem;

namespace {

struct Target {
    uint32_t tdef = 0;
    uint32_t data_page = 0;
    uint32_t map_row_page = 0;
    uint16_t map_row_start = 0;
    uint16_t map_row_length = 0;
    uint32_t page_size = 0;
};

// The user table with the most rows on one data page, and where its page map lives.
bool find_target(const fs::path& file, Target& out) {
    jet::Database db(file);
    size_t best = 0;
    for (const auto& entry : db.user_tables()) {
        const auto& def = db.table_def(entry.tdef_page());
        if (!def.table) continue;
        jet::Faults faults;
        for (uint32_t p : db.data_pages(*def.table, entry.name, faults)) {
            const jet::PageRef bytes = db.file().fetch(p);
            jet::DataPage page(bytes, db.layout());
            if (page.row_count() <= best) continue;
            const auto at = jet::RowPointer::from_u32(def.table->owned_map);
            const jet::PageRef map_bytes = db.file().fetch(at.page);
            jet::DataPage map_page(map_bytes, db.layout());
            const jet::RowSlot slot = map_page.slot(at.row);
            if (!slot.bounds_ok || slot.length() < 5) continue;
            best = page.row_count();
            out = {entry.tdef_page(), p, at.page, slot.start, slot.length(), db.layout().page_size};
        }
    }
    return best > 0;
}

void put_u32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// Writes a copy of source with `copies` extra data pages and the table's map rewritten
// as a reference map over map pages appended after them. Returns false when the map
// row is too short to name the map pages needed.
bool grow(const fs::path& source, const Target& t, uint64_t copies, const fs::path& out) {
    std::ifstream in(source, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    const uint64_t ps = t.page_size;
    const uint64_t first_copy = bytes.size() / ps;
    bytes.resize(first_copy * ps);
    const uint64_t per_map_page = (ps - 4) * 8;
    const uint64_t total = first_copy + copies;
    const uint64_t map_pages = (total + per_map_page - 1) / per_map_page;
    if (1 + 4 * map_pages > t.map_row_length) return false;

    // The table's existing pages stay listed: read them before the map changes.
    std::vector<uint32_t> listed;
    {
        jet::Database db(source);
        jet::Faults faults;
        listed = db.data_pages(*db.table_def(t.tdef).table, "", faults);
    }
    std::vector<std::vector<uint8_t>> maps(map_pages, std::vector<uint8_t>(ps, 0));
    for (auto& m : maps) {
        m[0] = jet::page_type::usage_map;
        m[1] = 0x01;
    }
    auto mark = [&](uint64_t page) { maps[page / per_map_page][4 + (page % per_map_page) / 8] |= uint8_t(1u << (page % 8)); };
    for (uint32_t p : listed) mark(p);
    for (uint64_t k = 0; k < copies; ++k) mark(first_copy + k);

    uint8_t* row = bytes.data() + uint64_t(t.map_row_page) * ps + t.map_row_start;
    std::vector<uint8_t> row_bytes(t.map_row_length, 0);
    row_bytes[0] = 0x01;
    for (uint64_t j = 0; j < map_pages; ++j) put_u32(row_bytes, 1 + 4 * j, static_cast<uint32_t>(total + j));
    std::memcpy(row, row_bytes.data(), row_bytes.size());

    std::ofstream o(out, std::ios::binary | std::ios::trunc);
    o.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    const char* page = reinterpret_cast<const char*>(bytes.data() + uint64_t(t.data_page) * ps);
    for (uint64_t k = 0; k < copies; ++k) o.write(page, static_cast<std::streamsize>(ps));
    for (const auto& m : maps) o.write(reinterpret_cast<const char*>(m.data()), static_cast<std::streamsize>(ps));
    return static_cast<bool>(o);
}

// Every value of every user table, as the dump reads them.
uint64_t read_all_rows(const fs::path& file) {
    jet::Database db(file);
    uint64_t rows = 0;
    for (const auto& entry : db.user_tables()) {
        const auto& def = db.table_def(entry.tdef_page());
        if (!def.table) continue;
        jet::Faults faults;
        db.scan_rows(*def.table, entry.name, [&](const jet::RowLocation&, std::vector<jet::Value>&&) { ++rows; }, faults);
    }
    return rows;
}

// Every page through page(), which pins: what reading cost before the cache was bounded.
uint64_t pin_all_pages(const fs::path& file) {
    jet::Database db(file);
    uint64_t sum = 0;
    for (uint32_t p = 0; p < db.file().page_count(); ++p) sum += db.file().page(p).size() ? 1 : 0;
    return sum;
}

struct Measure {
    uint64_t count = 0;
    long peak_kb = 0;
    double seconds = 0;
};

template <typename Work>
Measure in_child(Work work) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        uint64_t n = work();
        (void)!write(fds[1], &n, sizeof n);
        _exit(0);
    }
    close(fds[1]);
    Measure m;
    (void)!read(fds[0], &m.count, sizeof m.count);
    close(fds[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    m.peak_kb = usage.ru_maxrss;
    return m;
}

}  // namespace

int main(int argc, char** argv) {
    fs::path source;
    if (argc > 1) source = argv[1];
#ifdef TARSOLIN_CORPUS_DIR
    else source = fs::path(TARSOLIN_CORPUS_DIR) / "efcore-jet/JetProviderExceptionTests/Northwind.accdb";
#endif
    const uint64_t max_mb = argc > 2 ? std::stoull(argv[2]) : 1024;
    if (source.empty() || !fs::exists(source)) {
        std::fprintf(stderr, "usage: bench_dump_memory FILE.mdb|.accdb [MAX_MB]\n");
        return 2;
    }
    Target target;
    if (!find_target(source, target)) {
        std::fprintf(stderr, "no user table with rows in %s\n", source.string().c_str());
        return 1;
    }
    const fs::path dir = fs::temp_directory_path() / ("bench_dump_memory." + std::to_string(getpid()));
    fs::create_directories(dir);
    std::printf("source %s: table at tdef %u, data page %u copied, page size %u, cache %zu pages\n",
                source.filename().string().c_str(), target.tdef, target.data_page, target.page_size,
                jet::PageFile::kDefaultCachePages);
    std::printf("%10s %10s %12s %14s %10s %16s\n", "file MB", "pages", "rows read", "rows peak MB", "rows s",
                "pin-all peak MB");
    for (uint64_t mb = 8; mb <= max_mb; mb *= 4) {
        const uint64_t copies = mb * 1024 * 1024 / target.page_size;
        const fs::path grown = dir / "grown.accdb";
        if (!grow(source, target, copies, grown)) {
            std::printf("%10llu: the page map row is too short for this many map pages; stopping\n",
                        static_cast<unsigned long long>(mb));
            break;
        }
        const Measure rows = in_child([&] { return read_all_rows(grown); });
        const Measure pinned = in_child([&] { return pin_all_pages(grown); });
        std::printf("%10.1f %10llu %12llu %14.1f %10.2f %16.1f\n", double(fs::file_size(grown)) / (1 << 20),
                    static_cast<unsigned long long>(pinned.count), static_cast<unsigned long long>(rows.count),
                    rows.peak_kb / 1024.0, rows.seconds, pinned.peak_kb / 1024.0);
        std::fflush(stdout);
    }
    fs::remove_all(dir);
    return 0;
}
