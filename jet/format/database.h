#pragma once
// An open database: header, catalog, table definitions and the rows of each table in
// physical order. Damage inside pages is reported as faults; only a file that cannot
// be examined at all raises EngineError.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "jet/format/catalog.h"
#include "jet/base/engine_error.h"
#include "jet/base/fault.h"
#include "jet/format/header.h"
#include "jet/file/page_file.h"
#include "jet/format/row.h"
#include "jet/format/table_def.h"
#include "jet/format/usage_map.h"
#include "jet/base/value.h"

namespace jet {

class NativeFile;

struct RowLocation {
    uint32_t page = 0;
    uint16_t row = 0;
};

class Database {
public:
    // Throws EngineError (Spanish) for an empty path, a missing file, a folder, an empty
    // file, a file that is not a database, one truncated before page 1, or an encrypted one.
    explicit Database(const std::filesystem::path& path);
    // The same over a file already open (read through its handle; it must stay open for
    // the life of the Database). Named by the file's path in descriptions.
    explicit Database(const NativeFile& file);
    // A view over pages someone else holds and writes (the repair's pager, which lives on):
    // after each write through them, the catalog, definitions and free pages are read anew
    // on their next use. What was handed out before stays valid, as it was read.
    Database(std::shared_ptr<PageFile> pages, const std::filesystem::path& path);

    // Drops the readings writes have outdated; only when no reference into them is held.
    void forget_earlier_readings() { earlier_.clear(); }

    const std::filesystem::path& path() const { return path_; }
    const Header& header() const { return header_; }
    const Layout& layout() const { return *header_.layout; }
    const PageFile& file() const { return *file_; }
    // Faults of the file as a whole and of page 0.
    const Faults& file_faults() const { return file_faults_; }

    const Catalog& catalog();
    std::vector<CatalogEntry> user_tables() { return jet::user_tables(catalog()); }

    // Cached per TDEF page.
    const TableDefResult& table_def(uint32_t page);

    DecodeContext decode_context() const;

    // Pages flagged free in the global map (page 1, row 0), and those it keeps no bit for
    // (a reference map's slot without a usable map page): nothing shows those in use either.
    // Absent when the map cannot be read.
    const std::optional<std::vector<bool>>& free_pages();
    // Whether the global map keeps a bit for the page (a reference map's slot may have no
    // map page, or a bad one); true when the map cannot be read at all.
    bool global_map_records(uint32_t page);

    // Data pages of a table: its owned-pages map, checked page by page; when the map is
    // unusable, every in-use data page whose owner field names the TDEF. Faults are
    // appended with the table name.
    std::vector<uint32_t> data_pages(const TableDef& table, const std::string& name, Faults& faults);

    using RowVisitor = std::function<void(const RowLocation&, std::vector<Value>&&)>;
    // Every live row of the table in physical order, overflow rows followed; rows that
    // cannot be decoded are skipped with a fault.
    void scan_rows(const TableDef& table, const std::string& name, const RowVisitor& visit, Faults& faults);

    // The same rows undecoded: the stored bytes of each live row (the overflow target for a
    // moved row), valid during the call. For callers that crack fields themselves, e.g.
    // to read text as exact UTF-16 (decode_field_text_utf16).
    using StoredRowVisitor = std::function<void(const RowLocation&, Bytes row)>;
    void scan_stored_rows(const TableDef& table, const std::string& name, const StoredRowVisitor& visit,
                          Faults& faults);
    // The same over some of its data pages (as data_pages gave them), for scans in shares.
    void scan_stored_rows_on(const std::vector<uint32_t>& pages, const TableDef& table, const std::string& name,
                             const StoredRowVisitor& visit, Faults& faults);

private:
    // Page 0, the version and the refusals every opened file goes through.
    void read_header(const std::string& shown);
    // The catalog's result types for the calculated columns of the table at `tdef_page`.
    std::vector<std::pair<std::string, uint8_t>> result_types_of(uint32_t tdef_page);

    // What is read from the pages and kept: current for one generation of the file.
    struct Readings {
        uint64_t generation = 0;
        std::optional<Catalog> catalog;
        std::map<uint32_t, TableDefResult> table_defs;
        bool free_pages_read = false;
        std::optional<std::vector<bool>> free_pages;
        std::vector<PageSpan> unrecorded;
    };
    // The readings of the file as it is now; older ones are kept for references to them.
    Readings& now();

    std::filesystem::path path_;
    std::shared_ptr<PageFile> file_;
    Header header_;
    Faults file_faults_;
    std::unique_ptr<Readings> now_ = std::make_unique<Readings>();
    std::vector<std::unique_ptr<Readings>> earlier_;
};

}  // namespace jet
