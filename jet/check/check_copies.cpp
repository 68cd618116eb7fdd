// Pass 4c: a data page that repeats another's rows was written over by a copy of it; the
// rows it held are lost and the copied ones would be read twice.
#include "jet/check/check_passes.h"
#include "jet/check/page_copies.h"

namespace jet {
namespace {

// "se han perdido las 3 filas que tenía", as far as the evidence tells.
std::string lost_rows_text(const std::optional<uint32_t>& lost) {
    if (!lost) return "se han perdido las filas que tenía (no se sabe cuántas)";
    if (*lost == 0) return "no tenía filas propias que se hayan perdido";
    if (*lost == 1) return "se ha perdido la fila que tenía";
    return "se han perdido las " + std::to_string(*lost) + " filas que tenía";
}

}  // namespace

void check_page_copies(CheckContext& ctx) {
    for (const PageCopy& c : find_page_copies(ctx.db, tables_compared(ctx.db.catalog()))) {
        const Location where = c.listed_by ? object::table_page(ctx.table_name(c.listed_by), c.copy) : object::page(c.copy);
        ctx.sink.add(Problem::DpageCopy, where,
                     {std::to_string(c.copy), std::to_string(c.original), std::to_string(c.copied_rows),
                      ctx.table_name(c.rows_owner), lost_rows_text(c.lost_rows), c.evidence});
    }
}

}  // namespace jet
