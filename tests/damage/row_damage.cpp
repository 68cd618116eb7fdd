#include "row_damage.h"

#include <functional>

#include "jet/format/data_page.h"
#include "jet/format/database.h"
#include "jet/format/long_value.h"
#include "jet/format/row.h"

namespace damage {

namespace {

void put16(std::vector<uint8_t>& f, std::size_t at, uint16_t v) {
    f[at] = static_cast<uint8_t>(v);
    f[at + 1] = static_cast<uint8_t>(v >> 8);
}
void put32(std::vector<uint8_t>& f, std::size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) f[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

bool is_page_kind(RowKind k) {
    return k == RowKind::TornPage || k == RowKind::RowOffsetOutside || k == RowKind::RowOffsetOverlap ||
           k == RowKind::FreeSpaceWrong || k == RowKind::RowUndecodable || k == RowKind::OverflowNowhere ||
           k == RowKind::NullPlaceOut || judged_by_damaged_reading(k);
}

struct PageTarget {
    std::string table;
    uint32_t page = 0;
    std::vector<uint16_t> live;  // slots of ordinary live rows
    std::size_t occupied = 0;    // slots holding rows of any kind (live, overflow header or target)
};

using PageFits = std::function<bool(const PageTarget&, const jet::DataPage&)>;

bool two_live_rows(const PageTarget& t, const jet::DataPage&) { return t.live.size() >= 2; }

// A data page with its slots sorted out.
PageTarget target_of(const std::string& table, uint32_t number, const jet::DataPage& page) {
    PageTarget t{table, number, {}, 0};
    for (uint16_t i = 0; i < page.row_count(); ++i) {
        const jet::RowSlot s = page.slot(i);
        if ((s.raw & (jet::kRowDeleted | jet::kRowOverflow)) != (jet::kRowDeleted | jet::kRowOverflow)) ++t.occupied;
        if (!s.deleted() && !s.overflow() && s.bounds_ok && s.length() >= 4) t.live.push_back(i);
    }
    return t;
}

// The first data page of a user table that fits (by default: two ordinary live rows).
std::optional<PageTarget> page_target(jet::Database& db, const PageFits& fits = two_live_rows) {
    for (const jet::CatalogEntry& e : db.user_tables()) {
        const jet::TableDefResult& def = db.table_def(e.tdef_page());
        if (!def.table || !def.table->complete) continue;
        jet::Faults faults;
        for (uint32_t p : db.data_pages(*def.table, e.name, faults)) {
            jet::DataPage page(db.file().page(p), db.layout());
            const PageTarget t = target_of(e.name, p, page);
            if (fits(t, page)) return t;
        }
    }
    return std::nullopt;
}

// The highest sector boundary in the row area with a live row starting at or past it and
// another lying wholly before it; 0 when the page has none.
std::size_t tear_inside_rows(const PageTarget& t, const jet::DataPage& page, std::size_t page_size) {
    constexpr std::size_t kSector = 512;
    for (std::size_t at = page_size - kSector; at >= kSector; at -= kSector) {
        bool cut = false, whole = false;
        for (uint16_t i : t.live) {
            const jet::RowSlot s = page.slot(i);
            cut |= s.start >= at;
            whole |= s.end <= at;
        }
        if (cut && whole) return at;
    }
    return 0;
}

// The user data page with the highest number that a tear inside its rows can hit.
std::optional<PageTarget> last_tearable_page(jet::Database& db) {
    std::optional<PageTarget> best;
    for (const jet::CatalogEntry& e : db.user_tables()) {
        const jet::TableDefResult& def = db.table_def(e.tdef_page());
        if (!def.table || !def.table->complete) continue;
        jet::Faults faults;
        for (uint32_t p : db.data_pages(*def.table, e.name, faults)) {
            if (best && p < best->page) continue;
            jet::DataPage page(db.file().page(p), db.layout());
            const PageTarget t = target_of(e.name, p, page);
            if (tear_inside_rows(t, page, db.layout().page_size) != 0) best = t;
        }
    }
    return best;
}

struct NullPlaceTarget {
    std::string table;
    uint32_t page = 0;
    uint16_t slot = 0;
    std::size_t entry = 0;  // offset in the file of the entry's low byte
    std::size_t index = 0;  // its number in the row's variable-offset table
    bool overflow_target = false;
};

// Where variable-offset entry i of a row lies (its low byte), read here on the bytes:
// Jet 4 u16 entries before the count and the null mask, Jet 3 bytes before the jump table.
std::optional<std::vector<std::size_t>> offset_entries(jet::Bytes row, bool jet3) {
    const std::size_t L = row.size(), n = jet3 ? row[0] : jet::u16_at(row, 0), nm = (n + 7) / 8;
    std::vector<std::size_t> at;
    if (!jet3) {
        if (L < 2 + nm + 4) return std::nullopt;
        const std::size_t v = jet::u16_at(row, L - nm - 2);
        if (L < 2 + nm + 4 + 2 * v) return std::nullopt;
        for (std::size_t i = 0; i <= v; ++i) at.push_back(L - nm - 4 - 2 * i);
        return at;
    }
    if (L < nm + 2) return std::nullopt;
    const std::size_t last = L - 1, v = row[last - nm], jumps = (L - 1) / 256;
    if (last < nm + jumps + 2 + v) return std::nullopt;
    for (std::size_t i = 0; i <= v; ++i) at.push_back(last - nm - jumps - 1 - i);
    return at;
}

// An entry between two NULL (or deleted) variable fields of a user table's row: an
// overflow target's row first, else any live row.
std::optional<NullPlaceTarget> null_place_target(jet::Database& db) {
    const jet::Layout& layout = db.layout();
    for (const bool want_target : {true, false}) {
        for (const jet::CatalogEntry& e : db.user_tables()) {
            const jet::TableDefResult& def = db.table_def(e.tdef_page());
            if (!def.table || !def.table->complete || def.table->num_var_cols == 0) continue;
            const jet::TableDef& t = *def.table;
            jet::Faults faults;
            for (uint32_t p : db.data_pages(t, e.name, faults)) {
                const jet::Bytes bytes = db.file().page(p);
                const jet::DataPage page(bytes, layout);
                for (uint16_t i = 0; i < page.row_count(); ++i) {
                    const jet::RowSlot s = page.slot(i);
                    const uint16_t flags = s.raw & (jet::kRowDeleted | jet::kRowOverflow);
                    if (!s.bounds_ok || flags != (want_target ? jet::kRowDeleted : 0)) continue;
                    const jet::Bytes row = page.row(i);
                    const jet::CrackedRow cracked = jet::crack_row(t, layout, row);
                    const auto entries = offset_entries(row, layout.jet3);
                    if (!cracked.usable || !cracked.faults.empty() || !entries || entries->size() < 3) continue;
                    // Entries a present field uses, and those a stored NULL field uses (a
                    // deleted column's entries are read by no one).
                    std::vector<bool> used(entries->size(), false), null(entries->size(), false);
                    for (std::size_t k = 0; k < t.columns.size(); ++k) {
                        const jet::Column& c = t.columns[k];
                        if (c.fixed() || c.bit_only() || std::size_t(c.var_index) + 1 >= entries->size() ||
                            c.number >= cracked.stored_columns)
                            continue;
                        std::vector<bool>& mark = cracked.fields[k].present ? used : null;
                        mark[c.var_index] = mark[c.var_index + 1] = true;
                    }
                    // Jet 3: neighbours of one value, so that a changed low byte is out of order.
                    auto same = [&](std::size_t j) {
                        const auto& a = *entries;
                        return !layout.jet3 || (row[a[j - 1]] == row[a[j]] && row[a[j]] == row[a[j + 1]]);
                    };
                    for (std::size_t j = 1; j + 1 < entries->size(); ++j)
                        if (!used[j] && null[j] && same(j))
                            return NullPlaceTarget{e.name, p, i, std::size_t(p) * layout.page_size +
                                                                     std::size_t(row.data() - bytes.data()) + (*entries)[j],
                                                   j, want_target};
                }
            }
        }
    }
    return std::nullopt;
}

struct ValueTarget {
    std::string table;
    uint32_t row_page = 0;
    std::size_t definition = 0;  // offset of the 12-byte definition in the file
    jet::LongValueDefinition def;
    uint32_t chain_page = 0;     // first LVAL row of a multi-row chain
    std::size_t chain_row = 0;   // offset of that row in the file
};

// A long value of a user table stored outside its row; with `chain`, one spread over
// at least two LVAL rows.
std::optional<ValueTarget> value_target(jet::Database& db, bool chain) {
    const std::size_t page_size = db.layout().page_size;
    for (const jet::CatalogEntry& e : db.user_tables()) {
        const jet::TableDefResult& def = db.table_def(e.tdef_page());
        if (!def.table || !def.table->complete) continue;
        const jet::TableDef& t = *def.table;
        jet::Faults faults;
        for (uint32_t p : db.data_pages(t, e.name, faults)) {
            const jet::Bytes bytes = db.file().page(p);
            jet::DataPage page(bytes, db.layout());
            for (uint16_t i = 0; i < page.row_count(); ++i) {
                const jet::RowSlot s = page.slot(i);
                if (s.deleted() || s.overflow() || !s.bounds_ok) continue;
                const jet::CrackedRow cracked = jet::crack_row(t, db.layout(), page.row(i));
                if (!cracked.usable) continue;
                for (std::size_t k = 0; k < t.columns.size(); ++k) {
                    const jet::Field& f = cracked.fields[k];
                    jet::LongValueDefinition lv;
                    if (!t.columns[k].long_value() || !f.present || !jet::parse_long_value_definition(f.bytes, lv))
                        continue;
                    if (lv.kind == jet::kLongValueInline || lv.length == 0) continue;
                    ValueTarget target{e.name, p, std::size_t(p) * page_size + std::size_t(f.bytes.data() - bytes.data()), lv};
                    if (!chain) return target;
                    if (lv.kind != 0) continue;
                    jet::DataPage lval(db.file().page(lv.first.page), db.layout());
                    const jet::Bytes row = lval.row(lv.first.row);
                    if (row.size() < 4 || jet::u32_at(row, 0) == 0) continue;
                    target.chain_page = lv.first.page;
                    target.chain_row = std::size_t(lv.first.page) * page_size +
                                       std::size_t(row.data() - db.file().page(lv.first.page).data());
                    return target;
                }
            }
        }
    }
    return std::nullopt;
}

}  // namespace

const char* row_kind_name(RowKind kind) {
    switch (kind) {
    case RowKind::TornPage: return "torn-page";
    case RowKind::RowOffsetOutside: return "row-offset-outside";
    case RowKind::RowOffsetOverlap: return "row-offset-overlap";
    case RowKind::FreeSpaceWrong: return "free-space-wrong";
    case RowKind::RowUndecodable: return "row-undecodable";
    case RowKind::OverflowNowhere: return "overflow-nowhere";
    case RowKind::LvOutside: return "lv-outside";
    case RowKind::LvWrongPage: return "lv-wrong-page";
    case RowKind::LvCycle: return "lv-cycle";
    case RowKind::LvEndsEarly: return "lv-ends-early";
    case RowKind::LvFirstOutside: return "lv-first-outside";
    case RowKind::OverlapFewRows: return "overlap-few-rows";
    case RowKind::OverlapFewAbove: return "overlap-few-above";
    case RowKind::TornRows: return "torn-rows";
    case RowKind::OutsideManySlots: return "outside-many-slots";
    case RowKind::CutInPage: return "cut-in-page";
    case RowKind::NullPlaceOut: return "null-place-out";
    }
    return "?";
}

bool is_long_value_kind(RowKind kind) { return !is_page_kind(kind); }

bool judged_by_damaged_reading(RowKind kind) {
    return kind == RowKind::OverlapFewRows || kind == RowKind::OverlapFewAbove || kind == RowKind::TornRows || kind == RowKind::OutsideManySlots ||
           kind == RowKind::CutInPage || kind == RowKind::NullPlaceOut;
}

std::vector<RowKind> all_row_kinds() {
    return {RowKind::TornPage,     RowKind::RowOffsetOutside, RowKind::RowOffsetOverlap, RowKind::FreeSpaceWrong,
            RowKind::RowUndecodable, RowKind::OverflowNowhere, RowKind::LvOutside,      RowKind::LvWrongPage,
            RowKind::LvCycle,       RowKind::LvEndsEarly,      RowKind::LvFirstOutside,   RowKind::OverlapFewRows,
            RowKind::OverlapFewAbove, RowKind::TornRows,      RowKind::OutsideManySlots, RowKind::CutInPage,
            RowKind::NullPlaceOut};
}

std::optional<std::pair<uint32_t, uint16_t>> first_long_value_chain(const std::filesystem::path& intact) {
    jet::Database db(intact);
    const auto t = value_target(db, true);
    if (!t) return std::nullopt;
    return std::pair<uint32_t, uint16_t>{t->def.first.page, t->def.first.row};
}

std::optional<RowDamage> apply_row_damage(const std::filesystem::path& intact, std::vector<uint8_t>& f, RowKind kind) {
    jet::Database db(intact);
    const jet::Layout& layout = db.layout();
    const std::size_t page_size = layout.page_size;
    if (kind == RowKind::CutInPage) {
        const auto t = last_tearable_page(db);
        if (!t) return std::nullopt;
        const jet::DataPage page(db.file().page(t->page), layout);
        const std::size_t cut = tear_inside_rows(*t, page, page_size);
        const std::size_t pages_after = f.size() / page_size - t->page - 1;
        f.resize(std::size_t(t->page) * page_size + cut);
        RowDamage d{t->table, t->page, t->occupied, pages_after > 0, {}};
        d.note = "file cut at byte " + std::to_string(cut) + " of the page (" + std::to_string(pages_after) +
                 " pages after it)";
        return d;
    }
    if (kind == RowKind::NullPlaceOut) {
        const auto t = null_place_target(db);
        if (!t) return std::nullopt;
        // Jet 4: past any page. Jet 3: the low byte only (its jump bytes give the high part),
        // moved off its neighbours' value.
        if (layout.jet3)
            f[t->entry] ^= 0x80;
        else
            put16(f, t->entry, 0x1FFF);
        RowDamage d{t->table, t->page, 0, false, {}};
        d.note = "entry " + std::to_string(t->index) + " of slot " + std::to_string(t->slot) +
                 (t->overflow_target ? " (an overflow target)" : "") + " moved out of place";
        return d;
    }
    if (is_page_kind(kind)) {
        PageFits fits = two_live_rows;
        if (kind == RowKind::OverlapFewRows || kind == RowKind::OverlapFewAbove)
            fits = [](const PageTarget& t, const jet::DataPage&) { return t.live.size() == 3 && t.occupied == 3; };
        if (kind == RowKind::TornRows)
            fits = [&](const PageTarget& t, const jet::DataPage& p) { return tear_inside_rows(t, p, page_size) != 0; };
        if (kind == RowKind::OutsideManySlots)
            fits = [](const PageTarget& t, const jet::DataPage&) { return t.live.size() >= 6; };
        const auto t = page_target(db, fits);
        if (!t) return std::nullopt;
        const std::size_t at = std::size_t(t->page) * page_size;
        const jet::DataPage page(db.file().page(t->page), layout);
        const uint16_t first = t->live[0], second = t->live[1];
        const std::size_t slot_at = at + layout.data_header_size;
        RowDamage d{t->table, t->page, 1, false, {}};
        switch (kind) {
        case RowKind::TornPage:
            std::fill(f.begin() + at + page_size / 2, f.begin() + at + page_size, uint8_t{0});
            d.rows_at_risk = t->occupied;
            d.note = "second half of page zeroed";
            break;
        case RowKind::RowOffsetOutside:
            put16(f, slot_at + 2 * first, 0x1FFF);
            d.note = "slot " + std::to_string(first) + " points past the page";
            break;
        case RowKind::RowOffsetOverlap: {
            // The row now starts inside the row above it (out of order, overlapping).
            const uint16_t above = page.slot(second).end;
            put16(f, slot_at + 2 * second, static_cast<uint16_t>(above + 2));
            d.rows_at_risk = 2;
            d.note = "slot " + std::to_string(second) + " starts inside the row above";
            break;
        }
        case RowKind::FreeSpaceWrong:
            put16(f, at + 2, static_cast<uint16_t>(page.free_space() + 123));
            d.rows_at_risk = 0;
            d.note = "free space off by 123";
            break;
        case RowKind::RowUndecodable: {
            const std::size_t row = at + page.slot(first).start;
            f[row] = 0;
            if (!layout.jet3) f[row + 1] = 0;
            d.note = "column count of slot " + std::to_string(first) + " set to 0";
            break;
        }
        case RowKind::OverflowNowhere: {
            const jet::RowSlot s = page.slot(first);
            put16(f, slot_at + 2 * first, static_cast<uint16_t>(jet::kRowOverflow | s.start));
            put32(f, at + s.start, 0xFFFFFF00u);
            d.note = "slot " + std::to_string(first) + " made an overflow pointer past the file";
            break;
        }
        case RowKind::OverlapFewRows: {
            const uint16_t middle = t->live[1];
            put16(f, slot_at + 2 * middle, static_cast<uint16_t>(page.slot(t->live[2]).start + 2));
            d.rows_at_risk = 2;
            d.note = "slot " + std::to_string(middle) + " of 3 starts inside the row below";
            break;
        }
        case RowKind::OverlapFewAbove: {
            const uint16_t middle = t->live[1];
            put16(f, slot_at + 2 * middle, static_cast<uint16_t>(page.slot(middle).end + 2));
            d.rows_at_risk = 2;
            d.note = "slot " + std::to_string(middle) + " of 3 starts inside the row above";
            break;
        }
        case RowKind::TornRows: {
            const std::size_t tear = tear_inside_rows(*t, page, page_size);
            std::fill(f.begin() + at + tear, f.begin() + at + page_size, uint8_t{0});
            d.rows_at_risk = t->occupied;
            d.note = "zeros from byte " + std::to_string(tear) + " to the page end";
            break;
        }
        case RowKind::OutsideManySlots: {
            std::string slots;
            for (std::size_t k = 0; k < t->live.size(); ++k) {
                if (!(k < 3 || k + 1 == t->live.size() || k == 5)) continue;
                put16(f, slot_at + 2 * t->live[k], 0x1FFF);
                slots += " " + std::to_string(t->live[k]);
            }
            d.rows_at_risk = t->live.size();
            d.note = "slots" + slots + " of " + std::to_string(t->live.size()) + " point past the page";
            break;
        }
        default: return std::nullopt;
        }
        return d;
    }
    const bool chain = kind != RowKind::LvFirstOutside;
    const auto v = value_target(db, chain);
    if (!v) return std::nullopt;
    RowDamage d{v->table, chain ? v->chain_page : v->row_page, 1, false, {}};
    const uint32_t first = (v->def.first.page << 8) | v->def.first.row;
    switch (kind) {
    case RowKind::LvOutside: put32(f, v->chain_row, 0xFFFFFF00u); d.note = "chain points past the file"; break;
    case RowKind::LvWrongPage: put32(f, v->chain_row, db.user_tables().front().tdef_page() << 8); d.note = "chain points at a table definition"; break;
    case RowKind::LvCycle: put32(f, v->chain_row, first); d.note = "chain points back at its first row"; break;
    case RowKind::LvEndsEarly: put32(f, v->chain_row, 0); d.note = "chain ends after its first row"; break;
    case RowKind::LvFirstOutside: put32(f, v->definition + 4, 0xFFFFFF00u); d.note = "definition points past the file"; break;
    default: return std::nullopt;
    }
    d.note += " (" + std::to_string(v->def.length) + " bytes declared)";
    return d;
}

}  // namespace damage
