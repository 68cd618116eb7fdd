#include "seeds.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <set>

#include "jet/base/format.h"

namespace fuzz {
namespace {

// Whole files up to this size seed the check and the repair (larger ones slow every run).
constexpr size_t kWholeFileLimit = 256 * 1024;
// Pages of one kind taken from each file.
constexpr size_t kPagesPerFile = 4;

uint32_t u32(const std::vector<uint8_t>& b, size_t at) {
    if (at + 4 > b.size()) return 0;
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
uint16_t u16(const std::vector<uint8_t>& b, size_t at) {
    return at + 2 > b.size() ? 0 : uint16_t(b[at] | b[at + 1] << 8);
}
void append32(Seed& s, uint32_t v) {
    for (int i = 0; i < 4; ++i) s.push_back(uint8_t(v >> (8 * i)));
}

struct Database {
    std::vector<uint8_t> bytes;
    const jet::Layout* layout = nullptr;
    uint32_t pages() const { return uint32_t(bytes.size() / layout->page_size); }
    std::vector<uint8_t> page(uint32_t n) const {
        auto first = bytes.begin() + std::ptrdiff_t(size_t(n) * layout->page_size);
        return {first, first + layout->page_size};
    }
    uint8_t type(uint32_t n) const { return bytes[size_t(n) * layout->page_size]; }
    uint8_t selector() const { return layout->jet3 ? 0 : 1; }
};

std::vector<Database> read_corpus(const std::filesystem::path& corpus) {
    std::vector<std::filesystem::path> paths;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(corpus, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        const auto ext = it->path().extension().string();
        if (it->is_regular_file() && (ext == ".mdb" || ext == ".accdb")) paths.push_back(it->path());
    }
    std::sort(paths.begin(), paths.end());
    std::vector<Database> out;
    for (const auto& p : paths) {
        std::ifstream in(p, std::ios::binary);
        Database db{{std::istreambuf_iterator<char>(in), {}}, nullptr};
        if (db.bytes.size() < 0x15) continue;
        db.layout = db.bytes[0x14] == 0 ? &jet::kJet3Layout : &jet::kJet4Layout;
        if (db.bytes.size() >= 3 * db.layout->page_size) out.push_back(std::move(db));
    }
    return out;
}

Seed page_seed(const Database& db, uint32_t n) {
    Seed s{db.selector()};
    auto page = db.page(n);
    s.insert(s.end(), page.begin(), page.end());
    return s;
}

void typed_pages(const Database& db, std::vector<Seed>& out, bool (*wanted)(const Database&, uint32_t)) {
    size_t taken = 0;
    for (uint32_t n = 1; n < db.pages() && taken < kPagesPerFile; ++n)
        if (wanted(db, n)) out.push_back(page_seed(db, n)), ++taken;
}

bool is_lval(const Database& db, uint32_t n) {
    return db.type(n) == jet::page_type::data && u32(db.bytes, size_t(n) * db.layout->page_size + 4) == 0x4C41564C;
}

// A definition's chain with its next-page pointers renumbered 1, 2, ... (page 0 first).
void table_defs(const Database& db, std::vector<Seed>& out) {
    const uint32_t ps = db.layout->page_size;
    std::set<uint32_t> continuations;
    for (uint32_t n = 1; n < db.pages(); ++n)
        if (db.type(n) == jet::page_type::table_def) continuations.insert(u32(db.bytes, size_t(n) * ps + 4));
    size_t taken = 0;
    for (uint32_t n = 1; n < db.pages() && taken < kPagesPerFile; ++n) {
        if (db.type(n) != jet::page_type::table_def || continuations.count(n)) continue;
        Seed s{db.selector()};
        for (uint32_t p = n, i = 0; p && p < db.pages() && i < 8 && db.type(p) == jet::page_type::table_def; ++i) {
            auto page = db.page(p);
            p = u32(page, 4);
            if (p) page[4] = uint8_t(i + 1), page[5] = page[6] = page[7] = 0;
            s.insert(s.end(), page.begin(), page.end());
        }
        out.push_back(std::move(s)), ++taken;
    }
}

// A field naming row 0 of an LVAL page placed at page 1: as one row and as a chain.
void long_values(const Database& db, std::vector<Seed>& out) {
    size_t taken = 0;
    for (uint32_t n = 1; n < db.pages() && taken < kPagesPerFile; ++n) {
        if (!is_lval(db, n)) continue;
        auto page = db.page(n);
        const uint16_t start = u16(page, db.layout->data_header_size) & jet::kRowOffsetMask;
        if (u16(page, db.layout->data_row_count) == 0 || start >= page.size()) continue;
        const uint32_t length = uint32_t(page.size() - start);
        for (uint32_t kind : {0x40000000u, 0u}) {
            Seed s{db.selector()};
            append32(s, (kind ? length : length - 4) | kind);
            append32(s, 1u << 8);
            append32(s, 0);
            s.insert(s.end(), page.begin(), page.end());
            out.push_back(std::move(s));
        }
        ++taken;
    }
}

// Each definition's own map row, its page placed at page 1.
void usage_maps(const Database& db, std::vector<Seed>& out) {
    size_t taken = 0;
    for (uint32_t n = 1; n < db.pages() && taken < kPagesPerFile; ++n) {
        if (db.type(n) != jet::page_type::table_def) continue;
        const uint32_t pointer = u32(db.bytes, size_t(n) * db.layout->page_size + db.layout->tdef_owned_map);
        const uint32_t page = pointer >> 8;
        if (page == 0 || page >= db.pages()) continue;
        Seed s{db.selector()};
        append32(s, (1u << 8) | (pointer & 0xFF));
        auto bytes = db.page(page);
        s.insert(s.end(), bytes.begin(), bytes.end());
        out.push_back(std::move(s)), ++taken;
    }
}

}  // namespace

std::vector<Seed> seeds_for(std::string_view target, const std::filesystem::path& corpus) {
    std::vector<Seed> out;
    for (const auto& db : read_corpus(corpus)) {
        if (target == "header") {
            out.emplace_back(db.bytes.begin(), db.bytes.begin() + std::ptrdiff_t(3 * db.layout->page_size));
        } else if (target == "check" || target == "repair") {
            if (db.bytes.size() <= kWholeFileLimit) out.push_back(db.bytes);
        } else if (target == "data_page") {
            typed_pages(db, out, [](const Database& d, uint32_t n) {
                return d.type(n) == jet::page_type::data && !is_lval(d, n);
            });
            typed_pages(db, out, is_lval);
        } else if (target == "table_def") {
            table_defs(db, out);
        } else if (target == "long_value") {
            long_values(db, out);
        } else if (target == "index_page") {
            typed_pages(db, out, [](const Database& d, uint32_t n) {
                return d.type(n) == jet::page_type::index_node || d.type(n) == jet::page_type::index_leaf;
            });
        } else if (target == "usage_map") {
            usage_maps(db, out);
        }
    }
    return out;
}

std::vector<Seed> spread(std::vector<Seed> seeds, size_t count) {
    if (seeds.size() <= count) return seeds;
    std::vector<Seed> out;
    for (size_t i = 0; i < count; ++i) out.push_back(std::move(seeds[i * seeds.size() / count]));
    return out;
}

}  // namespace fuzz
