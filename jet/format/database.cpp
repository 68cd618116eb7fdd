#include "jet/format/database.h"

#include <algorithm>

#include "jet/format/calculated.h"
#include "jet/file/native_file.h"

#include <algorithm>
#include <system_error>

#include "jet/format/data_page.h"
#include "jet/format/usage_map.h"

namespace jet {
namespace {

constexpr uint32_t kGlobalMapPage = 1;
constexpr int kMaxOverflowHops = 8;

[[noreturn]] void refuse(const std::string& text) { throw EngineError(text); }

void tag(Faults& from, Faults& to, const std::string& table, uint32_t page, int row) {
    for (auto& f : from) {
        if (f.page == 0) f.page = page;
        if (f.row < 0) f.row = row;
        if (f.table.empty()) f.table = table;
        to.push_back(std::move(f));
    }
    from.clear();
}

}  // namespace

Database::Database(const std::filesystem::path& path) : path_(path) {
    if (path.empty()) refuse("No se ha indicado ninguna base de datos.");
    const std::string shown = "«" + display_path(path) + "»";
    std::error_code ec;
    const std::filesystem::path system = extended_path(path);  // past 260 characters on Windows
    auto status = std::filesystem::status(system, ec);
    if (ec || !std::filesystem::exists(status)) refuse("No se encuentra el archivo " + shown + ".");
    if (std::filesystem::is_directory(status)) refuse(shown + " es una carpeta, no una base de datos.");
    auto size = std::filesystem::file_size(system, ec);
    if (ec) refuse("No se puede leer el archivo " + shown + ".");
    if (size == 0) refuse("El archivo " + shown + " está vacío: no es una base de datos.");
    try {
        file_ = std::make_shared<PageFile>(path);
    } catch (const std::exception&) {
        refuse("No se puede abrir el archivo " + shown + ".");
    }
    read_header(shown);
}

Database::Database(const NativeFile& file) : path_(file.path()) {
    const std::string shown = "«" + display_path(path_) + "»";
    file_ = std::make_shared<PageFile>(file);
    if (file_->file_size() == 0) refuse("El archivo " + shown + " está vacío: no es una base de datos.");
    read_header(shown);
}

Database::Database(std::shared_ptr<PageFile> pages, const std::filesystem::path& path)
    : path_(path), file_(std::move(pages)) {
    const std::string shown = "«" + display_path(path_) + "»";
    if (file_->file_size() == 0) refuse("El archivo " + shown + " está vacío: no es una base de datos.");
    read_header(shown);
    now_->generation = file_->generation();
}

Database::Readings& Database::now() {
    if (now_->generation != file_->generation()) {
        const bool held = now_->catalog || !now_->table_defs.empty() || now_->free_pages_read;
        if (held) earlier_.push_back(std::move(now_));
        now_ = std::make_unique<Readings>();
        now_->generation = file_->generation();
    }
    return *now_;
}

void Database::read_header(const std::string& shown) {
    auto parsed = parse_header(file_->read_prefix(3 * kJet4Layout.page_size));
    if (!parsed.is_database) refuse("El archivo " + shown + " no es una base de datos de Access.");
    if (!parsed.header)
        refuse("La cabecera de la base de datos " + shown + " está dañada y no se reconoce su formato.");
    header_ = std::move(*parsed.header);
    file_faults_ = std::move(parsed.faults);
    if (file_->file_size() < 2ull * header_.page_size())
        refuse("La base de datos " + shown + " está truncada: no contiene ni una página de datos.");
    if (header_.encrypted())
        refuse("La base de datos " + shown + " está cifrada; no se puede examinar ni reparar sin descifrarla.");
    if (file_->page_size() != header_.page_size()) file_->set_page_size(header_.page_size());
    if (file_->trailing_bytes() != 0)
        file_faults_.push_back({FaultKind::FileLengthNotPageMultiple, file_->page_count(), -1, {},
                                "el archivo termina con una página incompleta de " +
                                    std::to_string(file_->trailing_bytes()) + " bytes"});
}

DecodeContext Database::decode_context() const {
    return DecodeContext{file_.get(), header_.layout, header_.code_page ? header_.code_page : uint16_t(1252)};
}

const TableDefResult& Database::table_def(uint32_t page) {
    Readings& readings = now();
    auto it = readings.table_defs.find(page);
    if (it != readings.table_defs.end()) return it->second;
    TableDefResult read = read_table_def(*file_, layout(), page, decode_context().code_page);
    if (read.table && page != kCatalogPage &&
        std::any_of(read.table->columns.begin(), read.table->columns.end(),
                    [](const Column& c) { return c.calculated(); }))
        apply_result_types(*read.table, result_types_of(page));
    return readings.table_defs.emplace(page, std::move(read)).first->second;
}

std::vector<std::pair<std::string, uint8_t>> Database::result_types_of(uint32_t tdef_page) {
    for (const CatalogEntry& e : catalog().entries)
        if (e.type == object_type::table && e.tdef_page() == tdef_page && !e.result_types.empty())
            return e.result_types;
    return {};
}

const std::optional<std::vector<bool>>& Database::free_pages() {
    Readings& readings = now();
    auto& free_pages_ = readings.free_pages;
    if (readings.free_pages_read) return free_pages_;
    readings.free_pages_read = true;
    const PageRef bytes = file_->fetch(kGlobalMapPage);
    if (bytes.empty()) return free_pages_;
    DataPage page(bytes, layout());
    if (!page.is_data_page() || page.row_count() == 0) return free_pages_;
    UsageMap map = parse_usage_map(page.row(0), *file_, layout());
    if (!map.readable) return free_pages_;
    std::vector<bool> free(file_->page_count(), false);
    for (uint32_t p : map.pages) free[p] = true;
    for (const PageSpan& s : map.unrecorded) std::fill(free.begin() + s.first, free.begin() + s.end, true);
    free_pages_ = std::move(free);
    readings.unrecorded = std::move(map.unrecorded);
    return free_pages_;
}

bool Database::global_map_records(uint32_t page) {
    free_pages();
    const std::vector<PageSpan>& unrecorded = now().unrecorded;
    return std::none_of(unrecorded.begin(), unrecorded.end(),
                        [&](const PageSpan& s) { return page >= s.first && page < s.end; });
}

std::vector<uint32_t> Database::data_pages(const TableDef& table, const std::string& name, Faults& faults) {
    std::vector<uint32_t> pages;
    UsageMap map = read_usage_map(*file_, layout(), table.owned_map);
    Faults local = std::move(map.faults);
    bool usable = map.readable;
    if (usable) {
        for (uint32_t p : map.pages) {
            const PageRef bytes = file_->fetch(p);
            DataPage page(bytes, layout());
            if (!page.is_data_page())
                local.push_back({FaultKind::PageWrongType, p, -1, {}, "el mapa de la tabla incluye una página que no es de datos"});
            else if (page.owner() != table.page)
                local.push_back({FaultKind::PageWrongOwner, p, -1, {}, "el mapa de la tabla incluye una página de otro dueño"});
            else
                pages.push_back(p);
        }
        if (map.pages_past_end)
            local.push_back({FaultKind::UsageMapOutOfRange, RowPointer::from_u32(table.owned_map).page, -1, {},
                             "el mapa de la tabla marca " + std::to_string(map.pages_past_end) +
                                 " páginas fuera del archivo"});
        if (pages.empty() && table.num_rows > 0) {
            local.push_back({FaultKind::UsageMapRow, RowPointer::from_u32(table.owned_map).page, -1, {},
                             "el mapa de la tabla no lista ninguna página y la tabla declara filas"});
            usable = false;
        }
    }
    if (!usable) {
        // Fall back to the owner field of every page, skipping pages the global map frees.
        pages.clear();
        const auto& free = free_pages();
        for (uint32_t p = 1; p < file_->page_count(); ++p) {
            const PageRef bytes = file_->fetch(p);
            DataPage page(bytes, layout());
            if (!page.is_data_page() || page.owner() != table.page) continue;
            if (free && (*free)[p] && global_map_records(p)) continue;
            pages.push_back(p);
        }
    }
    tag(local, faults, name, 0, -1);
    return pages;
}

void Database::scan_stored_rows(const TableDef& table, const std::string& name, const StoredRowVisitor& visit,
                                Faults& faults) {
    scan_stored_rows_on(data_pages(table, name, faults), table, name, visit, faults);
}

void Database::scan_stored_rows_on(const std::vector<uint32_t>& pages, const TableDef& table,
                                   const std::string& name, const StoredRowVisitor& visit, Faults& faults) {
    for (uint32_t p : pages) {
        const PageRef bytes = file_->fetch(p);
        DataPage page(bytes, layout());
        Faults page_faults;
        for (auto& f : validate_data_page(page, p))
            if (f.kind != FaultKind::DataPageFreeSpace) page_faults.push_back(std::move(f));
        tag(page_faults, faults, name, p, -1);
        for (uint16_t i = 0; i < page.row_count(); ++i) {
            RowSlot slot = page.slot(i);
            if (slot.deleted() || !slot.bounds_ok) continue;  // bad bounds already reported
            Bytes row = page.row(i);
            Faults row_faults;
            bool reached = true;
            RowSlot at = slot;
            PageRef target_bytes;  // keeps the page of the followed row alive
            for (int hop = 0; at.overflow(); ++hop) {
                RowPointer target = RowPointer::from_u32(u32_at(row, 0));
                auto fail = [&](std::string detail) {
                    row_faults.push_back({FaultKind::OverflowPointer, p, i, {}, std::move(detail)});
                    reached = false;
                };
                if (row.size() < 4) {
                    fail("el puntero de desbordamiento de la fila es demasiado corto");
                    break;
                }
                if (hop >= kMaxOverflowHops) {
                    fail("la fila desbordada encadena demasiados saltos");
                    break;
                }
                target_bytes = file_->fetch(target.page);
                DataPage target_page(target_bytes, layout());
                if (target.page == 0 || !target_page.is_data_page() || target_page.owner() != table.page) {
                    fail("la fila desbordada apunta a una página que no es de esta tabla");
                    break;
                }
                at = target_page.slot(target.row);
                if (target.row >= target_page.row_count() || !at.bounds_ok) {
                    fail("la fila desbordada apunta a una fila inexistente");
                    break;
                }
                row = target_page.row(target.row);
            }
            tag(row_faults, faults, name, p, i);
            if (reached) visit(RowLocation{p, i}, row);
        }
    }
}

void Database::scan_rows(const TableDef& table, const std::string& name, const RowVisitor& visit, Faults& faults) {
    const DecodeContext context = decode_context();
    scan_stored_rows(table, name, [&](const RowLocation& at, Bytes row) {
        DecodedRow decoded = decode_row(table, row, context);
        tag(decoded.faults, faults, name, at.page, at.row);
        if (decoded.usable) visit(at, std::move(decoded.values));
    }, faults);
}

const Catalog& Database::catalog() {
    if (now().catalog) return *now_->catalog;
    Catalog c;
    const TableDefResult& def = table_def(kCatalogPage);
    Faults def_faults = def.faults;
    tag(def_faults, c.faults, "MSysObjects", kCatalogPage, -1);
    if (!def.table || def.table->columns.empty()) {
        c.faults.push_back({FaultKind::CatalogUnreadable, kCatalogPage, -1, "MSysObjects",
                            "no se puede leer la definición del catálogo del sistema"});
        now().catalog = std::move(c);
        return *now_->catalog;
    }
    c.readable = true;
    const TableDef& t = *def.table;
    scan_rows(t, "MSysObjects", [&](const RowLocation& at, std::vector<Value>&& values) {
        CatalogEntry e;
        if (!catalog_entry_from_row(t, values, e)) {
            c.faults.push_back({FaultKind::CatalogRow, at.page, at.row, "MSysObjects",
                                "una fila del catálogo no tiene identificador, nombre o tipo"});
            return;
        }
        e.page = at.page;
        e.row = at.row;
        c.entries.push_back(std::move(e));
    }, c.faults);
    now().catalog = std::move(c);
    return *now_->catalog;
}

}  // namespace jet
