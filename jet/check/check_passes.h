#pragma once
// The passes of the check and the state they share. Internal to the engine.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <map>
#include <memory>
#include <utility>

#include "jet/check/check.h"
#include "jet/format/database.h"
#include "jet/format/header.h"
#include "jet/file/page_file.h"
#include "jet/format/table_def.h"

namespace jet {

// What a page was found to be part of while walking the structures.
enum class Claim : uint8_t {
    None,
    Header,      // page 0
    GlobalMap,   // page 1
    TableDef,    // a TDEF chain page
    TableData,   // a data page listed in a table's owned map
    MapHost,     // a data page holding usage-map rows (owner field 0)
    MapPage,     // a type-5 page of a reference map
    Index,       // an index page (root or listed in an index map)
    LongValue,   // an LVAL page reached from a column map or a row's long value
};

// Who claims each page. Several claims on one page are fine when the kind allows
// sharing (map hosts, LVAL pages hold rows of many owners); otherwise the first claim
// wins and the conflict is returned to the caller to report.
class PageClaims {
public:
    explicit PageClaims(uint32_t page_count) : kind_(page_count, Claim::None), owner_(page_count, 0) {}

    struct Conflict {
        Claim kind;
        uint32_t owner;
    };
    // nullopt when the claim was recorded or shared; the earlier claim on conflict.
    std::optional<Conflict> claim(uint32_t page, Claim kind, uint32_t owner);
    Claim kind(uint32_t page) const { return page < kind_.size() ? kind_[page] : Claim::None; }
    uint32_t owner(uint32_t page) const { return page < owner_.size() ? owner_[page] : 0; }
    uint32_t page_count() const { return static_cast<uint32_t>(kind_.size()); }

private:
    std::vector<Claim> kind_;
    std::vector<uint32_t> owner_;
};

// One step of a pass over a table, as it happened: a finding, or (problem Count) a page
// claimed. Passes over tables that run elsewhere or earlier are reported by replaying
// their steps in order; a replayed claim is judged against the claims made so far. A
// repair notes a claim per data page: the finding is held apart so that a claim stays small.
struct CheckEvent {
    Problem problem = Problem::Count;
    uint32_t page = 0;
    std::unique_ptr<const Finding> finding;
    uint32_t owner = 0;
    Claim claim = Claim::None;
};

// A table as the catalog names it, with its parsed definition.
struct CheckedTable {
    std::string name;
    uint32_t tdef_page = 0;
    bool system = false;
    const TableDef* def = nullptr;  // absent when the definition could not be read at all
    bool rows_readable = false;     // the definition is good enough to decode rows
    bool owned_map_ok = false;      // data_pages come from a readable owned-pages map
    std::vector<uint32_t> data_pages;                      // listed, of this table, ascending
    std::map<uint16_t, std::vector<uint32_t>> lv_pages;   // column number -> its LV map pages
};

class CheckMemo;

struct CheckContext {
    Database& db;
    const PageFile& file;
    const Header& header;
    const Layout& layout;
    FindingSink& sink;
    PageClaims claims;
    std::vector<CheckedTable> tables;
    CheckMemo* memo = nullptr;  // a repair's first check and re-checks (jet/check/check_memo.h)
    std::string claim_text(Claim kind, uint32_t owner) const;  // "la tabla X", "el índice ..."
    std::string table_name(uint32_t tdef_page) const;
};

// Work over single tables, gathered from several passes and run in one go on as many
// threads as the machine has (one start and one wait instead of one per pass), largest
// tables first so that no thread is left with a big one at the end. The threads share
// ctx.db for reading pages (its page cache is guarded) and its parsed definitions; a job
// changes nothing in ctx and leaves its result for its pass to report, in table order.
class TableJobs {
public:
    void add(const CheckedTable& table, std::function<void()> job) { jobs_.emplace_back(&table, std::move(job)); }
    // Runs every job; `progress` hears the pages of the tables done, as they finish.
    void run(Progress* progress = nullptr);

private:
    std::vector<std::pair<const CheckedTable*, std::function<void()>>> jobs_;
};

// Pass 1: page 0 fields and the file length.
void check_header(const HeaderResult& parsed, const PageFile& file, FindingSink& sink);

// Pass 2: the catalog's own definition (page 2) and its rows -> ctx.tables.
void check_catalog(CheckContext& ctx);

// Pass 2b: user table definitions no catalog row names (jet/check/lost_tables.h); run after
// the walk of the named tables, whose pages are then claimed.
void check_lost_tables(CheckContext& ctx);

// Pass 3: each table's definition: chain, layout, columns, indexes, map pointers.
void check_table_defs(CheckContext& ctx);

// Pass 4: each table's data pages, rows and long values; stored counts against the rows.
// The constructor queues the walks in `jobs`; report() reports them once the jobs ran.
class RowsPass {
public:
    RowsPass(CheckContext& ctx, TableJobs& jobs);
    ~RowsPass();
    void report();

private:
    struct State;
    CheckContext& ctx_;
    std::unique_ptr<State> state_;
};
void check_rows(CheckContext& ctx);  // the pass on its own

// Pass 4b: every real index against its own pages, its owned-page map and the table's rows.
class IndexesPass {
public:
    IndexesPass(CheckContext& ctx, TableJobs& jobs);
    ~IndexesPass();
    void report();

private:
    struct State;
    CheckContext& ctx_;
    std::unique_ptr<State> state_;
};
void check_indexes(CheckContext& ctx);

// Pass 4c: data pages of user tables written over with a copy of another (jet/check/page_copies.h).
void check_page_copies(CheckContext& ctx);

// Pass 5: the global page map against what the walk found.
void check_page_map(CheckContext& ctx);
// A file past the size Access opens (run last: it needs every claim).
void check_file_limit(CheckContext& ctx);

}  // namespace jet
