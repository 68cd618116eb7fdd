#pragma once
// What every damage suite asks of a repair, said once: which corpus files can serve as the
// intact baseline, the rules any rewritten file meets (backup, clean check, a second repair
// that changes nothing), and the two independent readers' verdict on the result. The
// suites keep only what is their own: the damage, and what they count.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "corpus_support.h"
#include "jet/engine.h"
#include "two_readers.h"

namespace damage {

// A test name gtest accepts, made of any text (corpus paths, kind names).
std::string test_name(std::string text);
// ACE12 and its successors count together as ACE in the figures.
std::string format_family(const std::string& format);
// Lines of a text file, the recovery file's saved items; 0 for no file.
std::size_t lines_in(const std::filesystem::path& path);

// Why an intact corpus file cannot serve a case (absent, the readers missing, problems of
// its own); nothing when it can.
std::optional<std::string> why_unusable(const CorpusFile& file, bool needs_both_readers = true);

// The rules a repaired file meets: the backup (when the file was rewritten) is the damaged
// file byte for byte, our check finds nothing but what it tolerates, and a second repair
// rewrites nothing.
void expect_settled(const std::filesystem::path& database, const jet::Report& report,
                    const std::vector<std::uint8_t>& damaged);

// Both readers' readings of one file, side by side (a damaged file may keep one busy).
using Readings = std::map<Reader, Reading>;
Readings read_with_both(const std::filesystem::path& file);

// Both readers on the repaired file, each against what it read from the damaged one: it
// reads the result whole, loses none of those rows and invents none.
struct Verdict {
    std::map<Reader, Floor> floors;
    bool whole_by_both = true;
    const Floor& better() const;  // of the reader that got more from the damaged file (mdb-reader on a tie)
};
Verdict expect_floors_kept(const std::filesystem::path& intact, const Readings& damaged, const Readings& repaired);

// Figures a suite gathers, printed once when the test program ends (if it gathered any).
void print_at_end(std::function<void()> print);

}  // namespace damage
