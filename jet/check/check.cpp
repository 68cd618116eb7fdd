// check_database(): opens the file read-only (the reader refuses what cannot be
// examined), then runs the passes in their fixed order.
#include "jet/check/check_maps.h"
#include "jet/check/check_memo.h"
#include "jet/check/check_passes.h"
#include "jet/engine.h"
#include "jet/file/native_file.h"

namespace jet {
namespace {

Report check_opened(Database& db, CheckMemo* memo, Progress* progress) {
    if (db.file().page_count() < 3)
        throw EngineError("La base de datos «" + display_path(db.path()) +
                          "» está truncada: le faltan las páginas básicas (cabecera, mapa y catálogo).");
    if (progress) progress->step("Comprobando la cabecera, el catálogo y las definiciones", 0);
    FindingSink sink;
    HeaderResult header{true, db.header(), db.file_faults()};
    check_header(header, db.file(), sink);

    CheckContext ctx{db, db.file(), db.header(), db.layout(), sink, PageClaims(db.file().page_count()), {}, memo};
    claim_page(ctx, 0, Claim::Header, 0);
    claim_page(ctx, 1, Claim::GlobalMap, 0);
    check_catalog(ctx);
    check_table_defs(ctx);
    {
        // The row walks and the index checks of all tables run side by side, then report in
        // the passes' order.
        TableJobs jobs;
        RowsPass rows(ctx, jobs);
        IndexesPass indexes(ctx, jobs);
        jobs.run(progress);
        rows.report();
        indexes.report();
    }
    if (progress) progress->step("Comprobando el mapa de páginas", 0);
    check_page_copies(ctx);
    check_lost_tables(ctx);
    check_page_map(ctx);
    check_file_limit(ctx);
    return sink.take();
}

}  // namespace

Report check_database(const std::filesystem::path& path, Progress* progress) {
    Database db(path);
    return check_opened(db, nullptr, progress);
}

Report check_open_file(const NativeFile& file, Progress* progress) {
    Database db(file);
    return check_opened(db, nullptr, progress);
}

Report check_open_file(const NativeFile& file, CheckMemo& memo, Progress* progress) {
    Database db(file);
    return check_opened(db, &memo, progress);
}

}  // namespace jet
