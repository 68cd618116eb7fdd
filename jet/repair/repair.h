#pragma once
// The repair: check, plan one fix per problem code found, apply the fixes to a working
// copy by patching pages, re-check the copy, commit it (jet::repair_database in engine.h).
//
// A fix handles every finding of its problem at once and re-derives from the file itself
// what to write; what it takes from a finding is its typed location, never its wording.
// It keeps every byte it has no reason to change, and saves what it must drop to the
// recovery file before dropping it.
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "jet/format/database.h"
#include "jet/base/engine_error.h"
#include "jet/base/progress.h"
#include "jet/base/report.h"
#include "jet/format/header.h"
#include "jet/format/header_rules.h"
#include "jet/file/page_file.h"
#include "jet/file/page_store.h"
#include "jet/check/problems.h"
#include "jet/file/recovery_file.h"
#include "jet/file/safe_commit.h"

namespace jet {

class FixContext;
class StagedPages;

// A fix handles every finding of its problem at once.
using FixFunction = void (*)(FixContext& context, std::span<const Finding> findings);

// The one way a repair reads and writes the working copy: every page goes through one
// cached pager over the copy's file handle, written through to the file as it changes, and
// the Database view over that pager reads its catalog and definitions again after writes.
class FixContext final : public PageStore {
public:
    FixContext(WorkingCopy& copy, const Header& header, RecoveryFile& recovery);

    const Header& header() const { return header_; }
    uint32_t page_size() const override { return header_.page_size(); }
    // The copy's name, for what it tells (its extension); never to open it again.
    const std::filesystem::path& copy_path() const { return copy_.path(); }
    uint64_t file_size() const { return pages_->file_size(); }
    uint32_t page_count() const override { return pages_->page_count(); }

    // The copy's pages as they are now, through the pager.
    const PageFile& pages() const { return *pages_; }
    // The copy as a database, over the same pager: always the current one (see Database's
    // constructor over shared pages; a write to page 0 gives a new one, with its header).
    // Throws EngineError when the copy cannot be read as a database.
    Database& database();

    // A whole page of the working copy (empty when it lies past the last whole page).
    std::vector<uint8_t> read_page(uint32_t number) const;
    std::vector<uint8_t> read_bytes(uint64_t offset, std::size_t length) const;
    // Writes a whole page back; only the bytes that differ reach the file.
    void write_page(uint32_t number, std::span<const uint8_t> bytes);
    // Adds a whole page after the last one (index rebuilds that outgrow their old pages).
    void append_page(std::span<const uint8_t> bytes);
    void truncate(uint64_t size);

    // As a page store (index rebuilds, map edits): writing page_count() appends a page.
    std::vector<uint8_t> read(uint32_t number) const override { return read_page(number); }
    void write(uint32_t number, std::span<const uint8_t> bytes) override;

    // Saves an item a fix is about to drop; counts it as unsaved when it could not decode.
    void save_dropped(const RecoveredItem& item) { recovery_.save(item); }
    void count_unsaved(std::size_t n = 1) { unsaved_ += n; }
    std::size_t unsaved() const { return unsaved_; }

    // Pages written or the file cut since the start; the usage maps are rebuilt once more
    // after the fixes when something changed since they last were.
    std::size_t changes() const { return changes_; }
    bool maps_rebuilt() const { return maps_rebuilt_at_ == changes_; }
    void mark_maps_rebuilt() { maps_rebuilt_at_ = changes_; }

    // Runs one fix. A fix that `keeps_pages` only rewrites bytes inside pages that keep
    // their role (a count, a seed, a header field); any other fix that changes something
    // may have moved, freed or added pages, so the maps are rebuilt after the round.
    template <class Fix>
    void run(Fix&& fix, bool keeps_pages, std::span<const Finding> findings) {
        const std::size_t before = changes_;
        fix(*this, findings);
        if (!keeps_pages && changes_ != before) reallocated_ = true;
        forget_earlier_readings();
    }
    bool pages_reallocated() const { return reallocated_; }
    // Pages written, added or cut away so far (true at their number).
    const std::vector<bool>& written_pages() const { return written_; }

private:
    friend class StagedPages;
    StagedPages* staged_ = nullptr;  // the one holding edits back, if any
    WorkingCopy& copy_;
    const Header& header_;
    RecoveryFile& recovery_;
    std::shared_ptr<PageFile> pages_;
    std::unique_ptr<Database> database_;
    // Databases a page-0 write replaced: kept so references into them stay valid.
    std::vector<std::unique_ptr<Database>> replaced_;
    bool header_written_ = false;
    std::size_t unsaved_ = 0;
    std::size_t changes_ = 0;
    std::size_t maps_rebuilt_at_ = SIZE_MAX;
    bool reallocated_ = false;
    std::vector<bool> written_;
    void mark_written(uint32_t first, uint32_t end);
    // A write while a StagedPages holds edits back would interleave with them.
    void refuse_while_staged() const;
    // A fix that has returned holds no reference into the readings its writes outdated.
    void forget_earlier_readings();
};

// Page edits held back until commit(): a fix that must keep reading the copy as it was while
// it decides (a table's rows, whose long values it may still save) edits through one. While
// one holds edits, any other write to the copy is refused, so nothing interleaves with them;
// edits never committed are dropped.
class StagedPages {
public:
    explicit StagedPages(FixContext& context);
    ~StagedPages();
    StagedPages(const StagedPages&) = delete;
    StagedPages& operator=(const StagedPages&) = delete;

    // The page as staged (read from the copy on first use).
    std::vector<uint8_t>& page(uint32_t number);
    void changed(uint32_t number) { changed_.insert(number); }
    bool pending() const { return !changed_.empty(); }
    // Writes the changed pages to the copy.
    void commit();

private:
    friend class FixContext;
    FixContext& context_;
    std::map<uint32_t, std::vector<uint8_t>> pages_;
    std::set<uint32_t> changed_;
    bool committing_ = false;
};

// The fix for a problem (its row in jet/check/problems.cpp); nullptr when the repair leaves it
// as it is or refuses it. By code: nullptr also for a code no problem has.
FixFunction fix_for(Problem problem);
FixFunction fix_for(std::string_view code);
// True when the fix for `problem` never moves, frees or adds a page (see FixContext::run).
bool fix_keeps_pages(Problem problem);

// The fixes, one per file.
void fix_file_size(FixContext& context, std::span<const Finding> findings);
void fix_file_limit(FixContext& context, std::span<const Finding> findings);
void fix_commit_slots(FixContext& context, std::span<const Finding> findings);
void fix_header_signature(FixContext& context, std::span<const Finding> findings);
void fix_header_identity(FixContext& context, std::span<const Finding> findings);  // engine name + version
void fix_header_sort_order(FixContext& context, std::span<const Finding> findings);
void fix_header_code_page(FixContext& context, std::span<const Finding> findings);
void fix_header_creation_date(FixContext& context, std::span<const Finding> findings);
void fix_header_password_area(FixContext& context, std::span<const Finding> findings);
void fix_header_database_key(FixContext& context, std::span<const Finding> findings);
// Table-definition counts re-derived from what each definition holds (TDEF_LENGTH,
// TDEF_LAYOUT, ... and the catalog codes a damaged page 2 count causes), after lost
// column types are told again (TDEF_COLUMN_TYPE, jet/repair/fix_column_types.cpp).
void fix_table_def_counts(FixContext& context, std::span<const Finding> findings);
// The same, then user tables whose definition still cannot be read are saved to the
// recovery file and dropped (jet/repair/drop_table.h).
void fix_table_defs_or_drop(FixContext& context, std::span<const Finding> findings);
// Index definitions naming a column or a real index that does not exist: pointed back or
// taken out of the definition (jet/repair/fix_index_defs.cpp).
void fix_index_definitions(FixContext& context, std::span<const Finding> findings);
// A column number or variable slot no definition could hold set back to the one the
// other columns leave free, a fixed offset that overlaps set to the gap the others leave, then as fix_table_defs_or_drop (jet/repair/fix_column_entries.cpp).
void fix_column_entries_or_drop(FixContext& context, std::span<const Finding> findings);
// Catalog rows naming a page that is no table definition: re-pointed or dropped.
void fix_catalog_table_ids(FixContext& context, std::span<const Finding> findings);
// User table definitions no catalog row names, given a catalog row again.
void fix_lost_tables(FixContext& context, std::span<const Finding> findings);
// Catalog rows that describe no object (zeros over part of them): saved, then dropped.
void fix_garbled_catalog_rows(FixContext& context, std::span<const Finding> findings);
// A catalog row without Id, name or type: the catalog's counts first, then as above.
void fix_unreadable_catalog_rows(FixContext& context, std::span<const Finding> findings);
// A definition's broken next-page pointer set back to the one page that completes it.
void fix_table_def_chain(FixContext& context, std::span<const Finding> findings);
// Garbage pages nothing claims: saved, then emptied.
void fix_unknown_pages(FixContext& context, std::span<const Finding> findings);
// Data pages whose first sector reads back as zeros: header and offsets rebuilt from the rows left.
void fix_lost_page_headers(FixContext& context, std::span<const Finding> findings);
// Map problems may come from a definition read with damaged counts: counts first.
void fix_table_defs_then_maps(FixContext& context, std::span<const Finding> findings);
// Index roots and map pointers into pages the file no longer has: roots and index-map bits
// past the end forgotten, lost map rows replaced, then counts and maps (jet/repair/fix_map_pointers.cpp).
void fix_map_pointers(FixContext& context, std::span<const Finding> findings);
void replace_lost_map_rows(FixContext& context);
// Rows a stray write flagged deleted that the count and indexes still name, brought back
// (jet/check/deleted_rows.h). Runs before the fixes that recount rows for the check or drop
// unreadable ones, so that a lowered count never makes their loss final.
void fix_deleted_rows(FixContext& context, std::span<const Finding> findings);
void fix_row_counts(FixContext& context, std::span<const Finding> findings);
void fix_autonumber_seeds(FixContext& context, std::span<const Finding> findings);
void fix_usage_maps(FixContext& context, std::span<const Finding> findings);
// A data page written over with a copy of another: the copy emptied and freed, its rows
// (repeats) saved, its table recounted and reindexed (jet/repair/fix_page_copies.cpp).
void fix_page_copies(FixContext& context, std::span<const Finding> findings);

// Every table's and long-value column's maps and the global map, rebuilt from what the
// pages hold (jet/repair/fix_maps.cpp). Runs after the other fixes whenever they changed pages.
void rebuild_usage_maps(FixContext& context);


}  // namespace jet
