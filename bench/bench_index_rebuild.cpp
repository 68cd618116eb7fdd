// Rebuild cost of every index of a database next to the cost of reading its tables once.
// Usage: bench_index_rebuild FILE-OR-FOLDER [rounds]   (a folder: its largest .mdb/.accdb)
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "jet/format/catalog.h"
#include "jet/format/database.h"
#include "jet/index/index_rebuild.h"

namespace {

namespace fs = std::filesystem;
// Process CPU time: the machine is shared, so wall time would measure the neighbours.
struct Clock {
    using time_point = std::chrono::duration<double, std::milli>;
    static time_point now() {
        timespec ts{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
        return time_point(ts.tv_sec * 1e3 + ts.tv_nsec / 1e6);
    }
};

fs::path largest_database(const fs::path& folder) {
    fs::path best;
    std::uintmax_t size = 0;
    for (const auto& e : fs::recursive_directory_iterator(folder)) {
        const auto ext = e.path().extension();
        if (!e.is_regular_file() || (ext != ".mdb" && ext != ".accdb")) continue;
        if (e.file_size() > size) {
            size = e.file_size();
            best = e.path();
        }
    }
    return best;
}

long peak_kib() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

double ms_since(Clock::time_point t) { return (Clock::now() - t).count(); }

struct Table {
    std::string name;
    uint32_t tdef;
};

std::vector<Table> tables(jet::Database& db) {
    std::vector<Table> out;
    for (const auto& e : db.catalog().entries)
        if (e.type == jet::object_type::table) out.push_back({e.name, e.tdef_page()});
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE-OR-FOLDER [rounds]\n", argv[0]);
        return 2;
    }
    fs::path path = argv[1];
    if (fs::is_directory(path)) path = largest_database(path);
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    std::printf("file: %s (%ju bytes), %d rounds\n", path.string().c_str(), fs::file_size(path), rounds);

    double read_best = 1e18, rebuild_best = 1e18, keys_best = 1e18;
    size_t rows = 0, indexes = 0, entries = 0, pages = 0, refused = 0;
    long peak_after_read = 0;
    for (int round = 0; round < rounds; ++round) {
        jet::Database db(path);
        const auto list = tables(db);
        auto t0 = Clock::now();
        rows = 0;
        for (const Table& t : list) {
            const auto& def = db.table_def(t.tdef);
            if (!def.table || !def.table->complete) continue;
            jet::Faults faults;
            db.scan_rows(*def.table, t.name, [&](const jet::RowLocation&, std::vector<jet::Value>&&) { ++rows; }, faults);
        }
        read_best = std::min(read_best, ms_since(t0));
        peak_after_read = std::max(peak_after_read, peak_kib());

        t0 = Clock::now();
        for (const Table& t : list) {
            const auto& def = db.table_def(t.tdef);
            if (!def.table || !def.table->complete) continue;
            std::vector<size_t> all(def.table->real_indexes.size());
            for (size_t i = 0; i < all.size(); ++i) all[i] = i;
            jet::expected_index_entries(db, *def.table, t.name, all);
        }
        keys_best = std::min(keys_best, ms_since(t0));

        std::ifstream in(path, std::ios::binary);
        jet::MemoryPageStore store({std::istreambuf_iterator<char>(in), {}}, db.layout().page_size);
        jet::Database fresh(path);
        t0 = Clock::now();
        indexes = entries = pages = refused = 0;
        for (const Table& t : list) {
            const auto& def = fresh.table_def(t.tdef);
            if (!def.table || !def.table->complete) continue;
            std::vector<size_t> all(def.table->real_indexes.size());
            for (size_t i = 0; i < all.size(); ++i) all[i] = i;
            auto t1 = Clock::now();
            auto results = jet::rebuild_table_indexes(fresh, store, *def.table, t.name, all);
            if (getenv("BENCH_VERBOSE")) std::printf("  %s: %.2f ms\n", t.name.c_str(), ms_since(t1));
            for (const auto& r : results) {
                ++indexes;
                refused += !r.rebuilt;
                entries += r.entries;
                pages += r.pages;
            }
        }
        rebuild_best = std::min(rebuild_best, ms_since(t0));
    }
    std::printf("read every table once: %zu rows in %.2f ms (best of %d, CPU time); peak RSS so far %ld KiB\n", rows, read_best,
                rounds, peak_after_read);
    std::printf("keys of every index from the rows, sorted: %.2f ms (best of %d, CPU time)\n", keys_best, rounds);
    std::printf("rebuild every index:   %zu indexes (%zu refused), %zu entries, %zu pages in %.2f ms (best of %d, CPU time)\n",
                indexes, refused, entries, pages, rebuild_best, rounds);
    std::printf("rebuild / read: %.2f; peak RSS %ld KiB\n", rebuild_best / read_best, peak_kib());
    return 0;
}
