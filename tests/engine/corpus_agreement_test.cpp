// Every user table of every readable corpus file, dumped by jetrepair, must agree with
// mdbtools (mdb-export) value for value after normalising the two output formats.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>

#include "corpus.h"
#include "reader_cache.h"

namespace {

using nlohmann::json;

constexpr const char* kJetrepair = JETREPAIR_EXE;

std::string shell_quote(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string run(const std::string& command, int* status = nullptr) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    std::string out;
    if (!pipe) return out;
    std::array<char, 65536> buf;
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), pipe.get())) > 0) out.append(buf.data(), n);
    int rc = pclose(pipe.release());
    if (status) *status = rc;
    return out;
}

bool have_mdbtools() { return std::system("mdb-export --version > /dev/null 2>&1") == 0; }

std::vector<std::string> split(const std::string& s, const std::string& sep) {
    std::vector<std::string> out;
    size_t from = 0;
    while (true) {
        size_t at = s.find(sep, from);
        if (at == std::string::npos) {
            out.push_back(s.substr(from));
            return out;
        }
        out.push_back(s.substr(from, at - from));
        from = at + sep.size();
    }
}

// Delimiters no corpus value contains (some hold every control character).
const std::string kField = "\x1f@|#", kRow = "\x1e#|@\n", kNull = "<NULL>";

// mdb-export rows: header then one vector of fields per row.
std::vector<std::vector<std::string>> export_table(const std::filesystem::path& file, const std::string& table) {
    const std::string out = readers::run_on_file("mdb-export -d " + shell_quote(kField) + " -R " + shell_quote(kRow) +
                                                     " -Q -0 '<NULL>' -b hex -D '%Y-%m-%d %H:%M:%S' -T '%Y-%m-%d %H:%M:%S'",
                                                 file, " " + shell_quote(table))
                                .out;
    std::vector<std::vector<std::string>> rows;
    auto lines = split(out, kRow);
    if (!lines.empty() && lines.back().empty()) lines.pop_back();
    for (auto& line : lines) rows.push_back(split(line, kField));
    return rows;
}

std::string upper(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// "12.3400" -> "12.34", "5.0000" -> "5"
std::string trim_decimal(std::string s) {
    if (s.find('.') == std::string::npos) return s;
    while (!s.empty() && s.back() == '0') s.pop_back();
    if (!s.empty() && s.back() == '.') s.pop_back();
    if (s == "-0") s = "0";
    return s;
}

struct Totals {
    int files = 0, tables = 0, tables_as_sets = 0, rows = 0, values = 0, not_comparable = 0;
    std::map<std::string, int> skipped_types;
    std::vector<std::string> reordered;
};

enum class Verdict { Same, Different, NotComparable };

Verdict compare(const std::string& type, const json& ours, const std::string& theirs) {
    if (type == "large_number" || type == "complex" || type == "datetime_extended" || type == "calculated" ||
        type.rfind("unknown", 0) == 0)
        return Verdict::NotComparable;  // mdbtools prints nothing useful for these
    if (ours.is_null()) return theirs == kNull ? Verdict::Same : Verdict::Different;
    // mdb-export prints an empty value as NULL.
    if (theirs == kNull) return ours.is_string() && ours.get<std::string>().empty() ? Verdict::Same : Verdict::Different;
    if (type == "boolean") return (ours.get<bool>() ? "1" : "0") == theirs ? Verdict::Same : Verdict::Different;
    if (type == "byte" || type == "integer" || type == "long")
        return std::to_string(ours.get<int64_t>()) == theirs ? Verdict::Same : Verdict::Different;
    if (type == "single" || type == "double") {
        double a = ours.get<double>(), b = std::strtod(theirs.c_str(), nullptr);
        double tolerance = (type == "single" ? 1e-6 : 1e-13) * std::max(1.0, std::fabs(a));
        return std::fabs(a - b) <= tolerance ? Verdict::Same : Verdict::Different;
    }
    if (type == "currency" || type == "decimal")
        return trim_decimal(ours.get<std::string>()) == trim_decimal(theirs) ? Verdict::Same : Verdict::Different;
    if (type == "datetime") {
        // mdbtools prints whole seconds; ours adds a fraction only when there is one.
        // mdbtools cannot print dates before 1899-12-30 (it shows day 0 of 1900).
        if (theirs.rfind("1900-01-00", 0) == 0) return Verdict::NotComparable;
        std::string a = ours.get<std::string>().substr(0, 19);
        return a == theirs ? Verdict::Same : Verdict::Different;
    }
    if (type == "guid") {
        // With -b hex mdbtools hex-encodes the GUID's text form itself.
        std::string text;
        for (size_t i = 0; i + 1 < theirs.size(); i += 2)
            text += static_cast<char>(std::stoi(theirs.substr(i, 2), nullptr, 16));
        // mdbtools also leaves out the hyphen between the fourth and fifth groups.
        auto bare = [](std::string g) {
            std::erase(g, '-');
            return upper(g);
        };
        return bare(ours.get<std::string>()) == bare(text) ? Verdict::Same : Verdict::Different;
    }
    if (type == "binary" || type == "ole")
        return upper(ours.get<std::string>()) == upper(theirs) ? Verdict::Same : Verdict::Different;
    if (ours.get<std::string>() == theirs) return Verdict::Same;
    // mdbtools' iconv turns the five bytes code page 1252 leaves undefined into '?';
    // Windows (and we) pass them through as U+0081, U+008D, U+008F, U+0090, U+009D.
    std::string mapped = ours.get<std::string>();
    for (const char* c1 : {"\xC2\x81", "\xC2\x8D", "\xC2\x8F", "\xC2\x90", "\xC2\x9D"})
        for (size_t at; (at = mapped.find(c1)) != std::string::npos;) mapped.replace(at, 2, "?");
    // mdbtools converts text as UCS-2: each half of a surrogate pair (a character beyond
    // U+FFFF, such as the emoji of testEmoticonsV2010) comes out as '?'.
    for (size_t at = 0; at < mapped.size(); ++at)
        if ((static_cast<unsigned char>(mapped[at]) & 0xF8) == 0xF0) mapped.replace(at, 4, "??");
    return mapped == theirs ? Verdict::Same : Verdict::Different;
}

TEST(CorpusAgreement, DumpMatchesMdbtoolsOnEveryUserTable) {
    if (!have_mdbtools()) GTEST_SKIP() << "mdbtools (mdb-export) is not installed";
    auto files = test::corpus_files();
    if (files.empty()) GTEST_SKIP() << "no corpus at " << test::corpus_dir();
    Totals totals;
    int mismatches = 0;
    for (const auto& file : files) {
        int status = 0;
        std::string out = run(shell_quote(kJetrepair) + " dump " + shell_quote(file.string()) + " 2>/dev/null", &status);
        if (WEXITSTATUS(status) == 8) continue;  // not examinable (the encrypted file)
        SCOPED_TRACE(file.string());
        ASSERT_EQ(WEXITSTATUS(status), 0);
        json dump = json::parse(out);
        ++totals.files;
        std::set<std::string> listed;
        for (auto& name : split(readers::run_on_file("mdb-tables -1", file).out, "\n"))
            if (!name.empty()) listed.insert(name);
        for (const auto& table : dump["tables"]) {
            const std::string name = table["name"];
            SCOPED_TRACE(name);
            ASSERT_TRUE(listed.count(name)) << "mdbtools does not list the table";
            auto exported = export_table(file, name);
            ASSERT_FALSE(exported.empty()) << "mdb-export printed no header";
            const auto header = exported.front();
            exported.erase(exported.begin());
            ASSERT_EQ(table["rows"].size(), exported.size()) << "row counts differ";
            ++totals.tables;
            std::vector<int> theirs_index;
            for (const auto& column : table["columns"]) {
                auto it = std::find(header.begin(), header.end(), column["name"].get<std::string>());
                ASSERT_NE(it, header.end()) << "column missing in mdb-export: " << column["name"];
                theirs_index.push_back(int(it - header.begin()));
            }
            for (const auto& theirs : exported) ASSERT_EQ(theirs.size(), header.size()) << "a row splits badly";
            const json& rows = table["rows"];
            auto row_same = [&](const json& ours, const std::vector<std::string>& theirs, bool count) {
                bool same = true;
                for (size_t c = 0; c < ours.size(); ++c) {
                    // mdb-export prints a calculated column's stored bytes as the definition's
                    // type, wrapper and all: calcFieldTestV2010's LastFirstLen as 0 (its first
                    // header bytes), its LastFirst text as NULL. Jackcess reads what we do.
                    const json& column = table["columns"][c];
                    const std::string type = column.value("calculated", false) ? "calculated" : column["type"];
                    switch (compare(type, ours[c], theirs[size_t(theirs_index[c])])) {
                        case Verdict::Same:
                            if (count) ++totals.values;
                            break;
                        case Verdict::NotComparable:
                            if (count) {
                                ++totals.not_comparable;
                                ++totals.skipped_types[type == "datetime" ? "datetime before 1899-12-30" : type];
                            }
                            break;
                        case Verdict::Different: same = false; break;
                    }
                }
                return same;
            };
            bool in_order = true;
            for (size_t r = 0; r < exported.size() && in_order; ++r) in_order = row_same(rows[r], exported[r], false);
            // mdbtools returns an overflowed row where its data lies, we where its slot is:
            // when the order differs, the rows must still match one to one.
            std::vector<size_t> partner(exported.size(), SIZE_MAX);
            std::vector<bool> taken(exported.size(), false);
            for (size_t r = 0; r < exported.size(); ++r) {
                if (in_order) {
                    partner[r] = r;
                    continue;
                }
                for (size_t t = 0; t < exported.size(); ++t) {
                    if (!taken[t] && row_same(rows[r], exported[t], false)) {
                        partner[r] = t;
                        taken[t] = true;
                        break;
                    }
                }
            }
            if (!in_order) {
                ++totals.tables_as_sets;
                totals.reordered.push_back(file.filename().string() + ":" + name);
            }
            for (size_t r = 0; r < exported.size(); ++r) {
                ++totals.rows;
                if (partner[r] != SIZE_MAX) {
                    row_same(rows[r], exported[partner[r]], true);
                    continue;
                }
                ++mismatches;
                if (mismatches <= 20)
                    ADD_FAILURE() << "row " << r << " has no equal row in mdb-export: " << rows[r].dump().substr(0, 300);
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
    std::cout << "corpus agreement: files " << totals.files << ", tables " << totals.tables << " (in another row order: "
              << totals.tables_as_sets << "), rows "
              << totals.rows << ", values compared " << totals.values << ", values not comparable "
              << totals.not_comparable;
    for (auto& [type, n] : totals.skipped_types) std::cout << " [" << type << ": " << n << "]";
    std::cout << "\n";
    for (auto& t : totals.reordered) std::cout << "  in another row order: " << t << "\n";
}

}  // namespace
