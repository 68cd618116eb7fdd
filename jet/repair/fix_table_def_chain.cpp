// TDEF_CHAIN: a definition's next-page pointer names a page that is not one of its
// continuation pages (or lies past the end). A continuation page holds no owner field,
// but the definition must read whole with it: among the definition-typed pages no chain
// uses, the one whose bytes complete the definition soundly (ending exactly at
// tdef_len) is the lost continuation, and the pointer is set back to it. When none do,
// or several make different definitions of it, the chain is left for the re-check to
// report.
#include <algorithm>
#include <map>
#include <set>

#include "jet/base/bytes.h"
#include "jet/format/catalog.h"
#include "jet/format/database.h"
#include "jet/repair/fix_table_def.h"
#include "jet/repair/repair.h"

namespace jet {
namespace {

constexpr size_t kNextPage = 4;
constexpr size_t kContinuationHeader = 8;
constexpr size_t kMaxChain = 64;

bool definition_typed(const std::vector<uint8_t>& page) {
    return page.size() > kContinuationHeader && page[0] == page_type::table_def && page[1] == 0x01;
}

// The definition's buffer with `first_continuation` (and its own chain) appended.
std::vector<uint8_t> buffer_with(const FixContext& context, std::vector<uint8_t> buffer, uint32_t first_continuation,
                                 const std::set<uint32_t>& taken) {
    std::set<uint32_t> seen;
    for (uint32_t next = first_continuation; next != 0 && seen.size() < kMaxChain;) {
        if (taken.count(next) || !seen.insert(next).second) break;
        const std::vector<uint8_t> page = context.read_page(next);
        if (!definition_typed(page)) break;
        buffer.insert(buffer.end(), page.begin() + kContinuationHeader, page.end());
        next = u32_at(page, kNextPage);
    }
    return buffer;
}

// Where page k of a chain starts in the definition's buffer.
size_t page_start(size_t k, const Layout& layout) {
    return k == 0 ? 0 : layout.page_size + (k - 1) * (layout.page_size - kContinuationHeader);
}

void cut_after(FixContext& context, uint32_t page) {
    std::vector<uint8_t> last = context.read_page(page);
    for (size_t i = 0; i < 4; ++i) last[kNextPage + i] = 0;
    context.write_page(page, last);
}

}  // namespace

void fix_table_def_chain(FixContext& context, std::span<const Finding>) {
    const Layout& layout = *context.header().layout;
    std::vector<uint32_t> firsts{kCatalogPage};
    uint16_t code_page = 0;
    {
        Database& db = context.database();
        code_page = db.decode_context().code_page;
        for (const CatalogEntry& e : db.catalog().entries)
            if ((static_cast<uint32_t>(e.id) >> 24) == 0 && e.tdef_page() > kCatalogPage &&
                e.tdef_page() < context.page_count())
                firsts.push_back(e.tdef_page());
    }
    std::sort(firsts.begin(), firsts.end());
    firsts.erase(std::unique(firsts.begin(), firsts.end()), firsts.end());

    const PageFile& file = context.pages();
    std::set<uint32_t> taken(firsts.begin(), firsts.end());
    std::vector<TableDefResult> reads;
    for (uint32_t p : firsts) {
        reads.push_back(read_table_def(file, layout, p, code_page));
        if (reads.back().table)
            for (uint32_t q : reads.back().table->pages) taken.insert(q);
    }
    // Definition-typed pages nobody's chain reaches: where a lost continuation can be.
    std::vector<uint32_t> loose;
    for (uint32_t n = 3; n < context.page_count(); ++n)
        if (!taken.count(n) && definition_typed(context.read_page(n))) loose.push_back(n);

    // A definition read whole within the pages its length fills, whose chain runs on:
    // the pointer past them is cut (the pages it named are left to the map rebuild).
    for (TableDefResult& read : reads) {
        if (!read.table) continue;
        TableDef& t = *read.table;
        const size_t needed = table_def_pages_needed(t.tdef_len, layout.page_size);
        if (t.pages.size() <= needed) continue;
        std::vector<uint8_t> buffer(t.buffer.begin(),
                                    t.buffer.begin() + std::ptrdiff_t(std::min(t.buffer.size(), page_start(needed, layout))));
        if (!sound_definition(parse_table_def(buffer, layout, code_page), t.tdef_len)) continue;
        cut_after(context, t.pages[needed - 1]);
        t.pages.resize(needed);
        t.buffer = std::move(buffer);
        read.faults.clear();
    }

    // Pages of each chain, to find chains that run on into another definition.
    std::map<uint32_t, size_t> chains_holding;
    for (const TableDefResult& read : reads)
        if (read.table)
            for (uint32_t q : std::set<uint32_t>(read.table->pages.begin(), read.table->pages.end())) ++chains_holding[q];

    // A chain running on into another table's first page, or into a continuation page
    // another chain holds too: the definition ends before it when it reads whole without
    // it (the pointer is then cut), else it lost its own continuation and is searched
    // for below like any broken chain.
    for (TableDefResult& read : reads) {
        if (!read.table) continue;
        const std::vector<uint32_t>& pages = read.table->pages;
        const auto into = std::find_if(pages.begin() + 1, pages.end(), [&](uint32_t q) {
            return std::binary_search(firsts.begin(), firsts.end(), q) || chains_holding[q] > 1;
        });
        if (into == pages.end()) continue;
        const std::vector<uint32_t> own(pages.begin(), into);
        // The definition's buffer is its first page and each continuation's body, in order.
        const std::vector<uint8_t>& whole = read.table->buffer;
        const size_t own_bytes =
            std::min(whole.size(), layout.page_size + (own.size() - 1) * (layout.page_size - kContinuationHeader));
        std::vector<uint8_t> buffer(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(own_bytes));
        // From here on the definition is its own pages only, whichever way it goes.
        const bool whole_without = sound_definition(parse_table_def(buffer, layout, code_page), read.table->tdef_len);
        // A shared continuation the definition needs is its own: the other chain is the
        // one that runs astray.
        if (!whole_without && !std::binary_search(firsts.begin(), firsts.end(), *into)) continue;
        read.table->pages = own;
        read.table->buffer = std::move(buffer);
        if (whole_without) {
            cut_after(context, own.back());
        } else {
            read.faults.push_back({FaultKind::TableDefChainBroken, *into, -1, {}, "continúa en otra tabla"});
        }
    }

    for (const TableDefResult& read : reads) {
        if (!read.table) continue;
        const bool broken = std::any_of(read.faults.begin(), read.faults.end(), [](const Fault& f) {
            return f.kind == FaultKind::TableDefChainBroken || f.kind == FaultKind::TableDefChainCycle;
        });
        if (!broken) continue;
        if (sound_definition(read, read.table->tdef_len)) {
            // Whole without what the pointer names (past the end, a page of another kind,
            // back into itself): the chain ends where the definition does.
            cut_after(context, read.table->pages.back());
            continue;
        }
        const TableDef& t = *read.table;
        std::vector<uint32_t> fits;
        std::set<std::vector<uint8_t>> definitions;  // what each fitting page makes of it
        for (uint32_t candidate : loose) {
            std::vector<uint8_t> buffer = buffer_with(context, t.buffer, candidate, taken);
            if (!sound_definition(parse_table_def(buffer, layout, code_page), t.tdef_len)) continue;
            fits.push_back(candidate);
            buffer.resize(t.tdef_len);
            definitions.insert(std::move(buffer));
        }
        // Stale copies of a continuation page (left by an earlier rewrite) complete the
        // definition identically: then the definition is the same whichever is used, and
        // the latest page (Access allocates upwards) is taken.
        if (fits.empty() || definitions.size() != 1) continue;
        std::vector<uint8_t> last = context.read_page(t.pages.back());
        put_u32(last, kNextPage, fits.back());
        context.write_page(t.pages.back(), last);
        taken.insert(fits.back());
    }
}

}  // namespace jet
