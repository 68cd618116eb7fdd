#include "jet3_grower.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "jet/engine.h"
#include "jet/format/data_page.h"
#include "jet/format/data_page_insert.h"
#include "jet/format/database.h"
#include "jet/format/fix_data_page.h"
#include "jet/format/usage_map_edit.h"
#include "jet/file/page_store.h"
#include "jet/format/file_limits.h"
#include "jet/format/row.h"
#include "jet/index/unique_keys.h"

namespace bench {
namespace {

// An Integer or Long column that keeps a unique index unique when every copy moves it.
struct KeyColumn {
    const jet::Column* column = nullptr;
    unsigned width = 0;  // 2 or 4
    int64_t low = std::numeric_limits<int64_t>::max();
    int64_t high = std::numeric_limits<int64_t>::min();
    int64_t max_value() const { return width == 2 ? INT16_MAX : INT32_MAX; }
};

// A live row of the table, and where its key columns lie in it (SIZE_MAX: NULL there).
struct SourceRow {
    std::vector<uint8_t> bytes;
    std::vector<size_t> key_at;
};

struct GrownTable {
    std::string name;
    uint32_t tdef_page = 0;
    const jet::TableDef* def = nullptr;
    std::vector<KeyColumn> keys;
    std::vector<SourceRow> rows;
    uint32_t first_page = 0;  // a data page of the table: the model of new pages
    std::vector<uint32_t> pages;  // listed now
    std::vector<uint32_t> new_pages;
    uint64_t rows_added = 0;
};

unsigned integer_width(uint8_t type) {
    switch (type) {
        case jet::data_type::byte: return 1;
        case jet::data_type::integer: return 2;
        case jet::data_type::long_integer: return 4;
        default: return 0;
    }
}

int64_t read_key(jet::Bytes b, size_t at, unsigned width) {
    return width == 2 ? int64_t{static_cast<int16_t>(jet::u16_at(b, at))} : int64_t{static_cast<int32_t>(jet::u32_at(b, at))};
}

void write_key(std::span<uint8_t> b, size_t at, unsigned width, int64_t v) {
    if (width == 2) jet::put_u16(b, at, static_cast<uint16_t>(v));
    else jet::put_u32(b, at, static_cast<uint32_t>(v));
}

// Why a table cannot be grown this way ("" when it can); fills its key columns.
std::string plan_keys(GrownTable& t) {
    const jet::TableDef& def = *t.def;
    for (const jet::Column& c : def.columns)
        if (c.long_value()) return "tiene columnas de memo u OLE, que las copias compartirían";
    for (size_t i = 0; i < def.real_indexes.size(); ++i) {
        if (!jet::unique_real_index(def, i)) continue;
        const jet::Column* chosen = nullptr;
        for (const jet::IndexColumn& ic : def.real_indexes[i].columns) {
            if (ic.number == 0xFFFF) continue;
            for (const jet::Column& c : def.columns)
                if (c.number == ic.number && integer_width(c.type) > 1 && !chosen) chosen = &c;
        }
        if (!chosen) return "un índice único sin columna entera que mover";
        const bool known = std::any_of(t.keys.begin(), t.keys.end(), [&](const KeyColumn& k) { return k.column == chosen; });
        if (!known) t.keys.push_back({chosen, integer_width(chosen->type)});
    }
    return {};
}

// The table's live rows (a row whose framing cannot be read, or an overflow pointer, is
// left out) and the range of each key column.
void survey(jet::Database& db, GrownTable& t) {
    jet::Faults faults;
    const jet::Layout& layout = db.layout();
    t.pages = db.data_pages(*t.def, t.name, faults);
    jet::RowFrame frame;
    for (uint32_t p : t.pages) {
        const jet::PageRef bytes = db.file().fetch(p);
        const jet::DataPage page(bytes, layout);
        if (!t.first_page) t.first_page = p;
        for (uint16_t i = 0; i < page.row_count(); ++i) {
            const jet::RowSlot slot = page.slot(i);
            if (slot.deleted() || slot.overflow() || !slot.bounds_ok) continue;
            const jet::Bytes row = page.row(i);
            if (frame.load(*t.def, layout, row) != jet::RowFrame::Status::Ok) continue;
            SourceRow source{{row.begin(), row.end()}, {}};
            for (KeyColumn& k : t.keys) {
                jet::Bytes field;
                if (!frame.fixed_bytes(*k.column, k.width, field)) {
                    source.key_at.push_back(SIZE_MAX);
                    continue;
                }
                source.key_at.push_back(static_cast<size_t>(field.data() - row.data()));
                const int64_t v = read_key(field, 0, k.width);
                k.low = std::min(k.low, v);
                k.high = std::max(k.high, v);
            }
            t.rows.push_back(std::move(source));
        }
    }
}

// Rounds the key columns allow: each round moves every key by its column's span.
uint64_t rounds_allowed(const GrownTable& t) {
    uint64_t most = std::numeric_limits<uint64_t>::max();
    for (const KeyColumn& k : t.keys) {
        if (k.low > k.high) continue;  // only NULLs
        const uint64_t span = static_cast<uint64_t>(k.high - k.low) + 1;
        const uint64_t room = static_cast<uint64_t>(k.max_value() - k.high);
        most = std::min(most, room / span);
    }
    return most;
}

std::vector<uint8_t> moved_row(const GrownTable& t, const SourceRow& source, uint64_t round) {
    std::vector<uint8_t> row = source.bytes;
    for (size_t c = 0; c < t.keys.size(); ++c) {
        const KeyColumn& k = t.keys[c];
        if (source.key_at[c] == SIZE_MAX) continue;
        const int64_t span = k.high - k.low + 1;
        const int64_t v = read_key(row, source.key_at[c], k.width);
        write_key(row, source.key_at[c], k.width, v + static_cast<int64_t>(round) * span);
    }
    return row;
}

// An empty data page of the table, with the header of one of its pages.
std::vector<uint8_t> empty_page(const jet::MemoryPageStore& store, const jet::Layout& layout, uint32_t model) {
    std::vector<uint8_t> page = store.read(model);
    std::fill(page.begin() + static_cast<std::ptrdiff_t>(layout.data_row_count), page.end(), 0);
    jet::set_free_space(page, layout);
    return page;
}

// Appends pages of copied rows until `pages` are added or the keys run out.
void fill_pages(jet::MemoryPageStore& store, const jet::Layout& layout, GrownTable& t, uint64_t pages) {
    const uint64_t rounds = rounds_allowed(t);
    std::vector<uint8_t> page = empty_page(store, layout, t.first_page);
    bool empty = true;
    for (uint64_t n = 0; t.new_pages.size() < pages; ++n) {
        const uint64_t round = n / t.rows.size() + 1;
        if (round > rounds) break;
        const std::vector<uint8_t> row = moved_row(t, t.rows[n % t.rows.size()], round);
        if (!jet::add_row_to_page(page, layout, row)) {
            if (empty) break;  // the row fits on no page
            t.new_pages.push_back(store.page_count());
            store.write(store.page_count(), page);
            page = empty_page(store, layout, t.first_page);
            empty = true;
            --n;
            continue;
        }
        empty = false;
        ++t.rows_added;
    }
    if (!empty && t.new_pages.size() < pages) {
        t.new_pages.push_back(store.page_count());
        store.write(store.page_count(), page);
    } else if (!empty) {
        t.rows_added -= jet::DataPage(page, layout).row_count();  // the last page is not written
    }
}

// Rewrites a usage map to hold `set` pages (and no other), growing it into a reference map
// with new map pages at the end of the store when its row cannot name them all (every page
// below `limit` then has a bit). `global`: bits name free pages, and pages past the end of
// the file are free.
bool write_map(jet::MemoryPageStore& store, const jet::Layout& layout, uint32_t row_pointer,
               const std::vector<uint32_t>& set, uint32_t limit, bool global) {
    std::string why;
    std::optional<jet::UsageMapEdit> map = jet::UsageMapEdit::load(store, layout, row_pointer, why);
    if (!map) return false;
    // The global map names every page of the file; a table's map only its own.
    const bool fits = map->is_inline() && (global ? map->window_pages() >= limit && map->cover_all({0, limit - 1})
                                                  : map->cover_all(set));
    if (map->is_inline() && !fits && !map->make_reference()) return false;
    if (!map->is_inline()) {
        std::vector<uint32_t> every(limit);
        for (uint32_t p = 0; p < limit; ++p) every[p] = p;
        const auto slots = map->missing_slots(every);
        if (!slots) return false;
        for (size_t i = 0; i < slots->size(); ++i) map->add_map_page((*slots)[i], store.page_count() + static_cast<uint32_t>(i));
    }
    map->clear_all();
    for (uint32_t p : set) map->set(p, true);
    if (global) {
        uint32_t end = store.page_count();
        if (!map->is_inline()) end += static_cast<uint32_t>(map->missing_slots({}).value_or(std::vector<size_t>{}).size());
        for (uint32_t p = end; map->covers(p); ++p) map->set(p, true);
    }
    map->save(store);
    return true;
}

// The part of a table's growth its rows take; the rest is its indexes, which the repair
// builds (an entry costs about its key, a row pointer and a share of page overhead).
double data_share(const GrownTable& t) {
    size_t row_bytes = 0;
    for (const SourceRow& r : t.rows) row_bytes += r.bytes.size() + 2;  // and its slot
    const double row = double(row_bytes) / double(t.rows.size());
    double entry = 0;
    for (const jet::RealIndex& index : t.def->real_indexes)
        for (const jet::IndexColumn& ic : index.columns) {
            if (ic.number == 0xFFFF) continue;
            for (const jet::Column& c : t.def->columns)
                if (c.number == ic.number) entry += c.fixed() ? integer_width(c.type) + 1.0 : 8.0;
        }
    entry += 4.0 * double(t.def->real_indexes.size());
    return 0.97 * row / (row + entry);
}

void raise_row_count(jet::MemoryPageStore& store, const jet::Layout& layout, uint32_t tdef_page, uint64_t added) {
    std::vector<uint8_t> page = store.read(tdef_page);
    const uint64_t count = jet::u32_at(page, layout.tdef_num_rows) + added;
    jet::put_u32(page, layout.tdef_num_rows, static_cast<uint32_t>(std::min<uint64_t>(count, UINT32_MAX)));
    store.write(tdef_page, page);
}

std::vector<uint8_t> read_whole(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// One growth toward `wanted` bytes, the rows' share of each table's growth scaled by `scale`;
// `report`: print what was grown.
int grow_once(const std::filesystem::path& source, const std::filesystem::path& target, uint64_t wanted,
              uint64_t seed, double scale, bool report) {
    std::filesystem::copy_file(source, target, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::permissions(target, std::filesystem::perms::owner_write, std::filesystem::perm_options::add);

    std::vector<GrownTable> tables;
    uint64_t appended_pages = 0;
    {
        jet::Database db(target);
        const jet::Layout& layout = db.layout();
        std::mt19937_64 random(seed);  // the order rows are copied in
        for (const jet::CatalogEntry& entry : db.user_tables()) {
            GrownTable t;
            t.name = entry.name;
            t.tdef_page = entry.tdef_page();
            const jet::TableDefResult& read = db.table_def(t.tdef_page);
            if (!read.table || !read.table->complete) continue;
            t.def = &*read.table;
            std::string why = plan_keys(t);
            if (why.empty()) survey(db, t);
            if (why.empty() && t.rows.empty()) why = "no tiene filas que copiar";
            if (!why.empty()) {
                if (report) std::printf("tabla %s: sin crecer (%s)\n", t.name.c_str(), why.c_str());
                continue;
            }
            std::shuffle(t.rows.begin(), t.rows.end(), random);
            tables.push_back(std::move(t));
        }
        if (tables.empty()) {
            std::fprintf(stderr, "ninguna tabla se puede hacer crecer\n");
            return 1;
        }
        jet::MemoryPageStore store(read_whole(target), static_cast<uint32_t>(layout.page_size));
        const uint32_t old_count = store.page_count();
        std::string why;
        const auto global = jet::UsageMapEdit::load(store, layout, 1u << 8, why);
        if (!global) {
            std::fprintf(stderr, "el mapa global de páginas no se puede leer: %s\n", why.c_str());
            return 1;
        }
        const std::vector<uint32_t> free_pages = global->set_pages(old_count);
        // Pages to add, shared evenly among the tables (a map page each per 16,000 or so).
        const uint64_t budget = wanted > uint64_t(old_count) * layout.page_size
                                    ? (wanted - uint64_t(old_count) * layout.page_size) / layout.page_size
                                    : 0;
        for (GrownTable& t : tables) {
            fill_pages(store, layout, t, static_cast<uint64_t>(double(budget) * data_share(t) * scale) / tables.size());
            std::vector<uint32_t> listed = t.pages;
            listed.insert(listed.end(), t.new_pages.begin(), t.new_pages.end());
            if (!write_map(store, layout, t.def->owned_map, listed, store.page_count(), false)) {
                std::fprintf(stderr, "el mapa de páginas de %s no puede crecer\n", t.name.c_str());
                return 1;
            }
            raise_row_count(store, layout, t.tdef_page, t.rows_added);
        }
        if (!write_map(store, layout, 1u << 8, free_pages, store.page_count() + 64, true)) {
            std::fprintf(stderr, "el mapa global de páginas no puede crecer\n");
            return 1;
        }
        appended_pages = store.page_count() - old_count;
        std::ofstream out(target, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(store.bytes().data()), std::streamsize(store.bytes().size()));
        if (!out.flush()) {
            std::fprintf(stderr, "no se pudo escribir %s\n", target.string().c_str());
            return 1;
        }
        for (GrownTable& t : tables) t.def = nullptr;  // the database closes below
    }

    // The repair rebuilds the indexes, and sets the autonumber counters past the new keys;
    // a second check must then find nothing.
    const jet::Report repaired = jet::repair_database(target);
    std::error_code ec;
    if (!repaired.backup.empty()) std::filesystem::remove(repaired.backup, ec);
    const jet::Report check = jet::check_database(target);
    if (!report) return check.clean() ? 0 : 1;
    jet::Database grown(target);
    for (const GrownTable& t : tables) {
        const jet::TableDefResult& read = grown.table_def(t.tdef_page);
        std::printf("tabla %s: %llu filas añadidas, %llu en total\n", t.name.c_str(),
                    static_cast<unsigned long long>(t.rows_added),
                    static_cast<unsigned long long>(read.table ? read.table->num_rows : 0));
    }
    std::printf("archivo %s: %llu bytes (%llu páginas añadidas)\n", target.string().c_str(),
                static_cast<unsigned long long>(std::filesystem::file_size(target)),
                static_cast<unsigned long long>(appended_pages));
    if (!check.clean()) {
        std::fprintf(stderr, "la comprobación del archivo crecido encuentra %zu problemas\n", check.findings.size());
        return 1;
    }
    return 0;
}

}  // namespace

int grow_jet3(const std::filesystem::path& source, const std::filesystem::path& target, uint64_t size_mb,
              uint64_t seed) {
    const uint64_t wanted = size_mb << 20;
    if (wanted >= jet::kMaxFileSizeJet3) {
        std::fprintf(stderr, "un archivo de Jet 3 debe quedar por debajo de 1024 MB\n");
        return 2;
    }
    // A trial growth of a sixteenth measures what the rebuilt indexes and the maps add to the
    // rows; the real one is scaled by it, so the file ends near the size asked.
    const uint64_t start = std::filesystem::file_size(source);
    double scale = 1.0;
    if (wanted > start) {
        std::filesystem::path trial = target;
        trial += ".prueba";
        const uint64_t trial_wanted = start + (wanted - start) / 16;
        const int status = grow_once(source, trial, trial_wanted, seed, 1.0, false);
        const uint64_t grown = std::filesystem::exists(trial) ? std::filesystem::file_size(trial) - start : 0;
        std::error_code ec;
        std::filesystem::remove(trial, ec);
        if (status != 0) return status;
        if (grown > 0) scale = std::clamp(0.97 * double(trial_wanted - start) / double(grown), 0.25, 4.0);
    }
    return grow_once(source, target, wanted, seed, scale, true);
}

}  // namespace bench
