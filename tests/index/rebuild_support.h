#pragma once
// Helpers of the rebuild tests: files as bytes, a scratch folder, and mdbtools' verdict.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "corpus_tables.h"
#include "jet/format/database.h"
#include "jet/index/index.h"
#include "reader_cache.h"

namespace test {

inline std::vector<uint8_t> file_bytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

inline void put_file(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

class Scratch {
public:
    Scratch() {
        std::random_device rd;
        path_ = std::filesystem::temp_directory_path() / ("tarsolin_rebuild_" + std::to_string(rd()));
        std::filesystem::create_directories(path_);
    }
    ~Scratch() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// Entries of every index of every table as the file holds them, by (definition page, real index).
using IndexEntries = std::map<std::pair<uint32_t, size_t>, std::vector<jet::IndexEntry>>;

inline IndexEntries all_index_entries(jet::Database& db) {
    IndexEntries out;
    for (uint32_t tdef : table_def_heads(db.file(), db.layout())) {
        const auto& parsed = db.table_def(tdef);
        if (!parsed.table || !parsed.table->complete) continue;
        for (size_t i = 0; i < parsed.table->real_indexes.size(); ++i)
            out[{tdef, i}] =
                jet::read_index_tree(db.file(), db.layout(), parsed.table->real_indexes[i].root_page, tdef).entries.to_entries();
    }
    return out;
}

inline bool same_entries(const std::vector<jet::IndexEntry>& a, const std::vector<jet::IndexEntry>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const auto& x, const auto& y) { return jet::compare_entries(x, y) == 0; });
}

inline bool same_entries(const IndexEntries& a, const IndexEntries& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const auto& x, const auto& y) { return x.first == y.first && same_entries(x.second, y.second); });
}

// Exit status of a shell command, its output discarded.
inline int quiet(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

inline bool have_mdb_export() { return quiet("command -v mdb-export") == 0; }

inline std::string shell_quoted(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Rows mdb-export prints for every user table, or "" with `ok` false when one fails.
inline std::string mdb_export_all(const std::filesystem::path& file, bool& ok) {
    const readers::Output listed = readers::run_on_file("mdb-tables -1", file);
    const std::string& tables = listed.out;
    ok = listed.exit_code == 0;
    std::string all;
    size_t start = 0;
    while (ok && start < tables.size()) {
        size_t end = tables.find('\n', start);
        if (end == std::string::npos) end = tables.size();
        std::string name = tables.substr(start, end - start);
        start = end + 1;
        if (name.empty()) continue;
        const readers::Output exported = readers::run_on_file("mdb-export", file, " " + shell_quoted(name));
        all += "== " + name + "\n" + exported.out;
        ok = exported.exit_code == 0;
    }
    return all;
}

}  // namespace test
