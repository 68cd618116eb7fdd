// Writes a damaged copy of a database, made by the damage tests' own functions, for
// bench/damage_at_scale.sh. Never a test; never installed.
//   bench_damage_apply --kinds             the kind names, one a line
//   bench_damage_apply INTACT OUT KIND     exit 0 and a note when OUT was written,
//                                          3 when the file has no target for the kind
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "injector.h"
#include "row_damage.h"
#include "sector_damage.h"
#include "temp_folder.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using Apply = std::function<std::optional<std::string>(const fs::path&, Bytes&)>;

namespace {

uint32_t u32_at(const Bytes& f, std::size_t at) {
    return at + 4 <= f.size() ? uint32_t(f[at]) | uint32_t(f[at + 1]) << 8 | uint32_t(f[at + 2]) << 16 |
                                    uint32_t(f[at + 3]) << 24
                              : 0;
}

// The first index leaf (type 0x04) of the first user table, else of any table but the catalog.
std::optional<uint32_t> first_user_index_leaf(const Bytes& f) {
    const uint32_t page_size = damage::layout_of(f).page_size;
    const std::optional<uint32_t> table = damage::first_user_table_def(f);
    std::optional<uint32_t> any;
    for (std::size_t p = 3; (p + 1) * page_size <= f.size(); ++p) {
        const std::size_t at = p * page_size;
        if (f[at] != 0x04) continue;
        const uint32_t owner = u32_at(f, at + 4);
        if (table && owner == *table) return static_cast<uint32_t>(p);
        if (!any && owner != 2) any = static_cast<uint32_t>(p);
    }
    return any;
}

std::optional<std::string> zero_page(Bytes& f, std::optional<uint32_t> page, const char* what) {
    if (!page) return std::nullopt;
    const std::optional<std::string> note = damage::apply(f, {damage::Kind::ZeroPage, *page});
    if (!note) return std::nullopt;
    return std::string(what) + ": " + *note;
}

// The table owning the most data pages, one of its data pages with rows and one of its index
// leaves, both from the middle of the file's run of them: the damage a large file's
// biggest table takes, away from the pages small-file cases reach first.
std::optional<std::string> zero_largest_table_page_and_leaf(Bytes& f) {
    const auto layout = damage::layout_of(f);
    const uint32_t page_size = layout.page_size;
    std::map<uint32_t, std::vector<uint32_t>> data, leaves;
    for (std::size_t p = 3; (p + 1) * page_size <= f.size(); ++p) {
        const std::size_t at = p * page_size;
        const uint32_t owner = u32_at(f, at + 4);
        const std::size_t count_at = at + (layout.jet3 ? 0x08 : 0x0C);  // a data page's row count
        const bool rows = (f[count_at] | f[count_at + 1]) != 0;
        if (f[at] == 0x01 && owner != 0x4C41564C && rows) data[owner].push_back(static_cast<uint32_t>(p));
        if (f[at] == 0x04) leaves[owner].push_back(static_cast<uint32_t>(p));
    }
    uint32_t table = 0;
    size_t most = 0;
    for (const auto& [owner, pages] : data)
        if (pages.size() > most && leaves.count(owner)) {
            table = owner;
            most = pages.size();
        }
    if (most == 0) return std::nullopt;
    const uint32_t page = data[table][data[table].size() / 2];
    const uint32_t leaf = leaves[table][leaves[table].size() / 2];
    const auto a = zero_page(f, page, "página de datos");
    const auto b = zero_page(f, leaf, "hoja de índice");
    if (!a || !b) return std::nullopt;
    return "tabla de la página " + std::to_string(table) + ", " + *a + "; " + *b;
}

std::vector<std::pair<std::string, Apply>> kinds() {
    std::vector<std::pair<std::string, Apply>> out;
    for (damage::RowKind k : damage::all_row_kinds())
        out.emplace_back(damage::row_kind_name(k), [k](const fs::path& intact, Bytes& f) -> std::optional<std::string> {
            const auto hit = damage::apply_row_damage(intact, f, k);
            if (!hit) return std::nullopt;
            return "tabla " + hit->table + ", página " + std::to_string(hit->page) + ", " +
                   std::to_string(hit->rows_at_risk) + " filas en riesgo";
        });
    std::vector<damage::SectorKind> sectors = damage::met_sector_kinds();
    for (damage::SectorKind k : damage::unmet_sector_kinds()) sectors.push_back(k);
    for (damage::SectorKind k : sectors)
        out.emplace_back(damage::sector_kind_name(k), [k](const fs::path& intact, Bytes& f) -> std::optional<std::string> {
            const auto hit = damage::apply_sector_damage(intact, f, k);
            if (!hit) return std::nullopt;
            return "página " + std::to_string(hit->page) + ", sector en " + std::to_string(hit->sector);
        });
    out.emplace_back("zeroed-data-page", [](const fs::path&, Bytes& f) {
        return zero_page(f, damage::first_data_page_with_rows(f), "página de datos");
    });
    out.emplace_back("zeroed-index-leaf", [](const fs::path&, Bytes& f) {
        return zero_page(f, first_user_index_leaf(f), "hoja de índice");
    });
    out.emplace_back("largest-table-page-and-leaf",
                     [](const fs::path&, Bytes& f) { return zero_largest_table_page_and_leaf(f); });
    out.emplace_back("stale-row-count", [](const fs::path&, Bytes& f) {
        return damage::apply(f, {damage::Kind::StaleRowCount});
    });
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    const auto all = kinds();
    if (argc == 2 && std::string(argv[1]) == "--kinds") {
        for (const auto& [name, apply] : all) std::printf("%s\n", name.c_str());
        return 0;
    }
    if (argc != 4) {
        std::fprintf(stderr, "uso: bench_damage_apply ORIGEN DESTINO CLASE | --kinds\n");
        return 2;
    }
    const fs::path intact = argv[1], out = argv[2];
    for (const auto& [name, apply] : all) {
        if (name != argv[3]) continue;
        Bytes bytes = damage::read_bytes(intact);
        const std::optional<std::string> note = apply(intact, bytes);
        if (!note) return 3;
        damage::write_bytes(out, bytes);
        std::printf("%s\n", note->c_str());
        return 0;
    }
    std::fprintf(stderr, "clase de daño desconocida: %s\n", argv[3]);
    return 2;
}
