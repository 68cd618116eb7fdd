#pragma once
// What the two independent readers, mdbtools and mdb-reader, read from a file, table by
// table, and how a repaired file measures against what each read from the damaged one:
// whatever a reader still gets from the damaged file is a floor for the repair.
#include <cstddef>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace damage {

enum class Reader { Mdbtools, MdbReader };
const char* reader_name(Reader reader);
// Both readers installed (mdbtools on the path, mdb-reader where the build found it).
bool have_both_readers();

struct Reading {
    bool opened = false;  // the reader listed the file's tables
    // Rows of each table as the reader prints them, one string per row; no value when
    // the reader fails on the table.
    std::map<std::string, std::optional<std::vector<std::string>>> tables;
    bool whole() const;  // opened, and every table read
};

Reading read_with(Reader reader, const std::filesystem::path& file);
// The reading of an intact corpus file, made once per run.
const Reading& intact_reading(Reader reader, const std::filesystem::path& file);

struct Floor {
    std::size_t intact = 0;    // rows of the intact file
    std::size_t read = 0;      // of them, rows the reader gets from the damaged file
    std::size_t kept = 0;      // of them, rows the reader gets from the repaired file
    std::size_t missing = 0;   // rows read from the damaged file but not from the repaired one
    std::size_t invented = 0;  // rows of the repaired file the intact file lacks
    std::vector<std::string> examples;  // "table: row" of the first missing and invented rows
    Floor& operator+=(const Floor& other);
};

// One reader's readings of the intact, damaged and repaired file, over the intact file's tables.
Floor measure_floor(const Reading& intact, const Reading& damaged, const Reading& repaired);

}  // namespace damage
