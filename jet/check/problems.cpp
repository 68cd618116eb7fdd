#include "jet/check/problems.h"

#include <array>
#include <cstdint>

#include "jet/engine.h"

namespace jet {
namespace {

using S = Severity;
using P = Problem;
// The rows name each fix as the repair calls its function.
using enum Fix;

constexpr std::string_view kHeader = "cabecera (página 0)";

// One row per problem, in enumerator order (checked at compile time below).
constexpr std::array kProblems = {
    // ---- Page 0
    ProblemInfo{P::HdrSignature, "HDR_SIGNATURE", S::Error,
                "la página 0 no empieza con la firma de cabecera (se leyó {0})",
                "se restaura la firma de cabecera 00 01 00 00",
                fix_header_signature, true, kHeader},
    ProblemInfo{P::HdrEngineName, "HDR_ENGINE_NAME", S::Error,
                "el nombre del motor en la cabecera no es válido ({0})",
                "se escribe el nombre de motor que corresponde a la versión ({1})",
                fix_header_identity, true, kHeader},
    ProblemInfo{P::HdrVersion, "HDR_VERSION", S::Error,
                "el byte de versión de la cabecera ({0}) no corresponde a ninguna versión conocida",
                "se deduce la versión del nombre del motor y de la estructura de las páginas",
                fix_header_identity, true, kHeader},
    ProblemInfo{P::HdrFileTooLarge, "HDR_FILE_TOO_LARGE", S::Error,
                "el archivo mide {0} bytes y Access no abre bases de datos de este formato de más de {1}; "
                "ninguna estructura de la base de datos usa las páginas que pasan del límite",
                "se recorta el archivo hasta el límite",
                fix_file_limit, false, kHeader},
    ProblemInfo{P::HdrFileTooLargeUsed, "HDR_FILE_TOO_LARGE_USED", S::Error,
                "el archivo mide {0} bytes y Access no abre bases de datos de este formato de más de {1}; "
                "la página {2}, pasado el límite, es parte de {3}",
                "la reparación no puede arreglarlo: recortar el archivo perdería esa página; "
                "la base de datos se deja como está"},
    ProblemInfo{P::HdrFileSize, "HDR_FILE_SIZE", S::Error,
                "el tamaño del archivo ({0} bytes) no es múltiplo del tamaño de página ({1})",
                "se descarta la página final incompleta",
                fix_file_size, false, kHeader},
    ProblemInfo{P::HdrSortOrder, "HDR_SORT_ORDER", S::Error,
                "el orden de clasificación de la base de datos ({0}) no es válido",
                "se restablece el orden de clasificación General",
                fix_header_sort_order, true, kHeader},
    ProblemInfo{P::HdrCodePage, "HDR_CODE_PAGE", S::Warning,
                "la página de códigos de la base de datos ({0}) no es válida",
                "se restablece la página de códigos 1252",
                fix_header_code_page, true, kHeader},
    ProblemInfo{P::HdrCreationDate, "HDR_CREATION_DATE", S::Warning,
                "la fecha de creación guardada en la cabecera no es un número válido",
                "se deduce una fecha de creación coherente con la protección de la contraseña",
                fix_header_creation_date, true, kHeader},
    ProblemInfo{P::HdrPasswordArea, "HDR_PASSWORD_AREA", S::Warning,
                "la zona de la contraseña de la cabecera está dañada",
                "se quita la contraseña de la base de datos",
                fix_header_password_area, true, kHeader},
    ProblemInfo{P::HdrDatabaseKey, "HDR_DATABASE_KEY", S::Error,
                "la cabecera indica una clave de cifrado ({0}), pero las páginas no están cifradas",
                "se pone a cero la clave de cifrado de la cabecera",
                fix_header_database_key, true, kHeader},
    ProblemInfo{P::HdrCommitSlots, "HDR_COMMIT_SLOTS", S::Warning,
                "la cabecera indica una escritura que no terminó (ranuras de confirmación ocupadas: {0})",
                "se dejan las ranuras de confirmación en reposo",
                fix_commit_slots, true, kHeader},

    // ---- Pages and the global page map
    ProblemInfo{P::PageTypeUnknown, "PAGE_TYPE_UNKNOWN", S::Warning,
                "la página tiene un tipo desconocido ({0}) y no pertenece a ninguna estructura",
                "se guarda su contenido en el archivo de recuperación y se deja la página vacía",
                fix_unknown_pages},
    ProblemInfo{P::DpageHeaderLost, "DPAGE_HEADER_LOST", S::Error,
                "el principio de la página de datos {0} está a cero (cabecera y posiciones de las filas "
                "perdidas) y la página aún guarda filas",
                "se reconstruyen la cabecera y las posiciones de las filas a partir de las filas que quedan; "
                "la fila cortada se guarda en el archivo de recuperación",
                fix_lost_page_headers},
    ProblemInfo{P::GmapInvalid, "GMAP_INVALID", S::Error,
                "el mapa global de páginas (página 1) no se puede leer: {0}",
                "se reconstruye el mapa global a partir de las páginas en uso",
                fix_usage_maps, false, "mapa global (página 1)"},
    ProblemInfo{P::MapPageFreeButUsed, "MAP_PAGE_FREE_BUT_USED", S::Error,
                "la página {0} está en uso por {1} pero el mapa global la marca como libre",
                "se marca la página como ocupada en el mapa global",
                fix_usage_maps},
    ProblemInfo{P::MapPageSharedOwner, "MAP_PAGE_SHARED_OWNER", S::Error,
                "la página {0} la reclaman a la vez {1} y {2}",
                "se deja la página a su dueño legítimo y se quita de la otra estructura",
                fix_usage_maps},
    ProblemInfo{P::MapPageLeak, "MAP_PAGE_LEAK", S::Info,
                "la página {0} ({1}) no pertenece a ninguna estructura y no está marcada como libre",
                "se marca la página como libre en el mapa global"},
    ProblemInfo{P::MapFreeNotOwned, "MAP_FREE_NOT_OWNED", S::Warning,
                "el mapa de espacio libre lista la página {0}, que no pertenece a la tabla",
                "se quita la página del mapa de espacio libre",
                fix_usage_maps},
    ProblemInfo{P::MapPageWrongOwner, "MAP_PAGE_WRONG_OWNER", S::Error,
                "el mapa de páginas lista la página {0}, que es {1}",
                "se quita la página del mapa",
                fix_usage_maps},
    ProblemInfo{P::TablePageUnmapped, "TABLE_PAGE_UNMAPPED", S::Error,
                "la página de datos {0} pertenece a la tabla pero falta en su mapa de páginas "
                "({1} filas no se verían)",
                "se añade la página al mapa de páginas de la tabla",
                fix_usage_maps},
    // A misdirected write: the page's own rows are gone, the copied ones appear twice. With the
    // page problems so that its fix runs before the row and index fixes (a repeated unique key
    // stops an index rebuild).
    ProblemInfo{P::DpageCopy, "DPAGE_COPY", S::Error,
                "la página de datos {0} es una copia de la página {1} ({2} filas de la tabla {3} "
                "aparecen dos veces) y {4}; es la copia porque {5}",
                "se guardan las filas repetidas en el archivo de recuperación, se deja vacía y libre la "
                "página y se recalculan los índices y el número de filas de la tabla",
                fix_page_copies},

    // ---- Catalog
    ProblemInfo{P::CatTdefInvalid, "CAT_TDEF_INVALID", S::Error,
                "la definición del catálogo del sistema (página 2) no se puede leer: {0}",
                "se reconstruye la definición del catálogo con la estructura estándar",
                fix_table_def_counts},
    ProblemInfo{P::CatRowUnreadable, "CAT_ROW_UNREADABLE", S::Error,
                "una fila del catálogo del sistema no se puede leer: {0}",
                "se elimina la fila dañada del catálogo",
                fix_unreadable_catalog_rows},
    ProblemInfo{P::CatTableIdInvalid, "CAT_TABLE_ID_INVALID", S::Error,
                "el catálogo sitúa la definición de la tabla en la página {0}, que {1}",
                "se busca la definición de la tabla entre las páginas del archivo o se "
                "retira la tabla del catálogo",
                fix_catalog_table_ids},
    ProblemInfo{P::CatTableSharedTdef, "CAT_TABLE_SHARED_TDEF", S::Error,
                "las tablas {0} y {1} del catálogo usan la misma definición (página {2})",
                "la reparación no puede arreglarlo: no se sabe a cuál de las dos tablas pertenece la definición; "
                "la base de datos se deja como está"},
    ProblemInfo{P::CatDuplicateName, "CAT_DUPLICATE_NAME", S::Error,
                "el nombre {0} aparece {1} veces en la misma carpeta del catálogo",
                "la reparación no puede arreglarlo: cambiar un nombre dejaría sin su objeto a las consultas, "
                "los formularios y el código que lo usan; la base de datos se deja como está",
                none, false, "catálogo del sistema"},
    ProblemInfo{P::CatTableLost, "CAT_TABLE_LOST", S::Error,
                "la definición de tabla de la página {0} ({1} filas) no figura en el catálogo: "
                "su fila del catálogo se ha perdido",
                "se vuelve a dar de alta la tabla en el catálogo con el nombre Tabla_recuperada_<página> "
                "(o con el suyo, si es una de las tablas propias de Access)",
                fix_lost_tables},
    ProblemInfo{P::CatRowGarbled, "CAT_ROW_GARBLED", S::Error,
                "una fila del catálogo del sistema no describe ningún objeto: {0}",
                "se guarda la fila en el archivo de recuperación y se quita del catálogo; una tabla "
                "cuya definición siga en el archivo se vuelve a dar de alta",
                fix_garbled_catalog_rows},

    // ---- Table definitions
    ProblemInfo{P::TdefChain, "TDEF_CHAIN", S::Error,
                "la cadena de páginas de la definición está rota: {0}",
                "se corta la cadena en la última página válida",
                fix_table_def_chain},
    ProblemInfo{P::TdefLength, "TDEF_LENGTH", S::Error,
                "la longitud guardada de la definición ({0} bytes) no coincide con su contenido "
                "({1} bytes)",
                "se corrige la longitud guardada",
                fix_table_defs_or_drop},
    ProblemInfo{P::TdefLayout, "TDEF_LAYOUT", S::Error,
                "la definición de la tabla no se puede interpretar: {0}",
                "se deducen los contadores de la definición a partir de su contenido",
                fix_table_defs_or_drop},
    ProblemInfo{P::TdefColumnNumber, "TDEF_COLUMN_NUMBER", S::Error,
                "la columna {0} tiene un número de columna no válido ({1}; máximo {2})",
                "se ajusta el número de columnas de la definición a las columnas que tiene",
                fix_column_entries_or_drop},
    ProblemInfo{P::TdefColumnType, "TDEF_COLUMN_TYPE", S::Error,
                "la columna {0} tiene un tipo de datos desconocido ({1}); por lo que aún dice: {2}",
                "se vuelve a escribir en la definición el tipo deducido de la columna (su tamaño, sus "
                "marcas, los índices que la usan y los valores de sus filas)",
                fix_table_defs_or_drop},
    ProblemInfo{P::TdefVarIndex, "TDEF_VAR_INDEX", S::Error,
                "la columna {0} tiene una posición variable no válida ({1}; máximo {2})",
                "se ajusta el número de posiciones variables de la definición a sus columnas",
                fix_column_entries_or_drop},
    ProblemInfo{P::TdefFixedOverlap, "TDEF_FIXED_OVERLAP", S::Error,
                "las columnas {0} y {1} se solapan en la parte fija de las filas",
                "se reasignan las posiciones fijas de las columnas",
                fix_column_entries_or_drop},
    ProblemInfo{P::TdefMapPointer, "TDEF_MAP_POINTER", S::Error,
                "el puntero al mapa {0} de la tabla no es válido: {1}",
                "se reconstruye el mapa a partir de las páginas de la tabla",
                fix_map_pointers},
    ProblemInfo{P::TdefIndexColumn, "TDEF_INDEX_COLUMN", S::Error,
                "el índice {0} usa la columna número {1}, que no existe",
                "se vuelve a dar al índice la columna que indican sus entradas o su nombre; si no se sabe cuál "
                "era, se elimina el índice",
                fix_index_definitions},
    ProblemInfo{P::TdefIndexRoot, "TDEF_INDEX_ROOT", S::Error,
                "la raíz del índice {0} (página {1}) no es válida: {2}",
                "se reconstruye el índice a partir de las filas",
                fix_map_pointers},
    ProblemInfo{P::TdefIndexMap, "TDEF_INDEX_MAP", S::Error,
                "el mapa de páginas del índice {0} no es válido: {1}",
                "se reconstruye el índice a partir de las filas",
                fix_map_pointers},
    ProblemInfo{P::TdefLogicalIndex, "TDEF_LOGICAL_INDEX", S::Error,
                "el índice {0} remite al índice físico {1}, que no existe ({2} físicos)",
                "se vuelve a unir al único índice físico libre, o se elimina el índice",
                fix_index_definitions},
    ProblemInfo{P::TdefPrimaryKeys, "TDEF_PRIMARY_KEYS", S::Error,
                "la tabla tiene {0} claves principales",
                "se deja solo la primera clave principal",
                fix_table_def_counts},
    ProblemInfo{P::TdefLvMap, "TDEF_LV_MAP", S::Warning,
                "el mapa de valores largos de la columna número {0} no es válido: {1}",
                "se reconstruye el mapa a partir de los valores largos de las filas",
                fix_map_pointers},
    ProblemInfo{P::TdefRowcountStale, "TDEF_ROWCOUNT_STALE", S::Warning,
                "el número de filas guardado ({0}) no coincide con las filas que hay ({1})",
                "se guarda el número real de filas",
                fix_row_counts, true},
    ProblemInfo{P::TdefAutonumberStale, "TDEF_AUTONUMBER_STALE", S::Error,
                "el último autonumérico guardado ({0}) es menor que el mayor valor existente "
                "({1}); los registros nuevos chocarían",
                "se guarda como último autonumérico el mayor valor existente",
                fix_autonumber_seeds, true},

    // ---- Data pages and rows
    ProblemInfo{P::DpageHeader, "DPAGE_HEADER", S::Error,
                "la cabecera de la página de datos no es válida: {0}",
                "se aparta la página y se recuperan las filas legibles",
                fix_rows},
    ProblemInfo{P::RowOffsetBounds, "ROW_OFFSET_BOUNDS", S::Error,
                "la fila {0} empieza fuera de la zona de filas ({1})",
                "se marca la fila como borrada",
                fix_rows},
    ProblemInfo{P::RowOffsetOverlap, "ROW_OFFSET_OVERLAP", S::Error,
                "la fila {0} se solapa con la fila anterior ({1})",
                "se marca la fila como borrada",
                fix_rows},
    ProblemInfo{P::DpageFreeSpace, "DPAGE_FREE_SPACE", S::Error,
                "el espacio libre guardado en la página ({0}) no coincide con el real ({1})",
                "se guarda el espacio libre real",
                fix_rows},
    ProblemInfo{P::RowColumnCount, "ROW_COLUMN_COUNT", S::Error,
                "la fila {0} dice tener {1} columnas (la tabla admite de 1 a {2})",
                "se aparta la fila como no legible",
                fix_rows},
    ProblemInfo{P::RowLayout, "ROW_LAYOUT", S::Error,
                "la fila {0} no se puede descomponer: {1}",
                "se aparta la fila como no legible",
                fix_rows},
    ProblemInfo{P::RowNullPlace, "ROW_NULL_PLACE", S::Error,
                "la fila {0} guarda fuera de su sitio la posición del campo vacío {1}; hay programas que no leen la fila",
                "se ponen en orden las posiciones de los campos vacíos (o se aparta la fila como no legible)",
                fix_rows},
    ProblemInfo{P::RowValueLength, "ROW_VALUE_LENGTH", S::Error,
                "la fila {0} guarda en la columna {1} un valor de longitud no válida ({2})",
                "se deja el valor de la columna vacío",
                fix_rows},
    ProblemInfo{P::RowOverflowTarget, "ROW_OVERFLOW_TARGET", S::Error,
                "la fila {0} remite a su contenido en {1}, que no es válido: {2}",
                "se marca la fila como borrada",
                fix_rows},
    ProblemInfo{P::RowOverflowShared, "ROW_OVERFLOW_SHARED", S::Error,
                "las filas {0} y {1} remiten al mismo contenido ({2})",
                "se marca como borrada la segunda fila",
                fix_rows},
    // The deleted bit set by a stray write: Access would have lowered the count and taken
    // the row out of its indexes (jet/check/deleted_rows.h).
    ProblemInfo{P::RowDeletedCounted, "ROW_DELETED_COUNTED", S::Error,
                "la fila {0} está marcada como borrada, pero sus datos están intactos y {1}",
                "se quita la marca de borrada: la fila vuelve a la tabla con sus datos, en su sitio",
                fix_deleted_rows, true},

    // ---- Long values
    ProblemInfo{P::LvDefinition, "LV_DEFINITION", S::Error,
                "la fila {0} tiene en la columna {1} una referencia a valor largo no válida: {2}",
                "se deja el valor de la columna vacío",
                fix_long_values},
    ProblemInfo{P::LvPointer, "LV_POINTER", S::Error,
                "el valor largo de la fila {0}, columna {1}, apunta a {2}, que no es válido: {3}",
                "se deja el valor de la columna vacío",
                fix_long_values},
    ProblemInfo{P::LvChainCycle, "LV_CHAIN_CYCLE", S::Error,
                "la cadena del valor largo de la fila {0}, columna {1}, vuelve sobre sí misma "
                "en {2}",
                "se corta la cadena y se guarda la parte legible",
                fix_long_values},
    ProblemInfo{P::LvLength, "LV_LENGTH", S::Error,
                "el valor largo de la fila {0}, columna {1}, declara {2} bytes pero solo se "
                "encuentran {3}",
                "se guarda la longitud de la parte legible",
                fix_long_values},
    ProblemInfo{P::LvPageUnmapped, "LV_PAGE_UNMAPPED", S::Warning,
                "la página de valores largos {0} de la columna {1} falta en el mapa de la columna",
                "se añade la página al mapa de la columna",
                fix_usage_maps},
    // Readers walk property blobs by their own lengths: a broken one sends them into
    // endless loops or past the value (mdbtools does so for every catalog row it lists).
    ProblemInfo{P::LvPropertyBlob, "LV_PROPERTY_BLOB", S::Error,
                "las propiedades de {0} están dañadas: {1} (se lee aún: {2})",
                "se guardan sus bytes en el archivo de recuperación y se quitan del objeto: se pierden "
                "sus títulos, formatos, descripciones y demás propiedades",
                fix_long_values},
    // Access refuses a table whose unique index repeats a key.
    ProblemInfo{P::IdxUniqueDuplicate, "IDX_UNIQUE_DUPLICATE", S::Error, "en el índice {0}, {1}",
                "se guarda la fila repetida en el archivo de recuperación, se quita de la tabla y se "
                "reconstruyen los índices de la tabla",
                fix_unique_duplicates},
    ProblemInfo{P::IdxPage, "IDX_PAGE", S::Error, "el índice {0} tiene una página dañada: {1}",
                "se reconstruye el índice a partir de las filas de la tabla",
                fix_rebuild_indexes},
    ProblemInfo{P::IdxTree, "IDX_TREE", S::Error, "el árbol del índice {0} está mal formado: {1}",
                "se reconstruye el índice a partir de las filas de la tabla",
                fix_rebuild_indexes},
    ProblemInfo{P::IdxMap, "IDX_MAP", S::Warning, "el mapa de páginas del índice {0} no coincide con su árbol: {1}",
                "se reconstruye el índice y su mapa de páginas",
                fix_rebuild_indexes},
    ProblemInfo{P::IdxEntryMissing, "IDX_ENTRY_MISSING", S::Error, "en el índice {0}, {1}",
                "se reconstruye el índice a partir de las filas de la tabla",
                fix_rebuild_indexes},
    ProblemInfo{P::IdxEntryOrphan, "IDX_ENTRY_ORPHAN", S::Error, "en el índice {0}, {1}",
                "se reconstruye el índice a partir de las filas de la tabla",
                fix_rebuild_indexes},
    // Key bytes in place that we would write otherwise: Access wrote them and finds the
    // rows through them, so rewriting the index would only swap its keys for ours.
    ProblemInfo{P::IdxEntryKey, "IDX_ENTRY_KEY", S::Info, "en el índice {0}, {1}",
                "se deja el índice como está"},
    ProblemInfo{P::IdxEntryWrong, "IDX_ENTRY_WRONG", S::Error, "en el índice {0}, {1}",
                "se reconstruye el índice a partir de las filas de la tabla",
                fix_rebuild_indexes},
    ProblemInfo{P::IdxEntryDuplicate, "IDX_ENTRY_DUPLICATE", S::Error, "en el índice {0}, {1}",
                "se reconstruye el índice a partir de las filas de la tabla",
                fix_rebuild_indexes},
};

constexpr bool rows_in_enumerator_order() {
    for (std::size_t i = 0; i < kProblems.size(); ++i)
        if (static_cast<std::size_t>(kProblems[i].id) != i) return false;
    return true;
}
static_assert(rows_in_enumerator_order(), "problem rows must follow the enumerator order");
static_assert(kProblems.size() == static_cast<std::size_t>(Problem::Count),
              "every problem needs exactly one row");

// A problem has a fix, or is a note left as it is, or its fix text says the repair refuses it.
constexpr bool every_fix_text_has_its_fix() {
    for (const ProblemInfo& row : kProblems) {
        const bool refused = row.fix.starts_with(kNoFixText);
        if (refused && row.fixed_by != Fix::none) return false;
        if (!refused && row.fixed_by == Fix::none && row.severity != Severity::Info) return false;
    }
    return true;
}
static_assert(every_fix_text_has_its_fix(), "a problem's fix text promises a fix the row does not name");

// Every fix the repair has answers some problem.
constexpr bool every_fix_has_its_problem() {
    for (std::size_t f = 1; f < static_cast<std::size_t>(Fix::count); ++f) {
        bool named = false;
        for (const ProblemInfo& row : kProblems) named = named || static_cast<std::size_t>(row.fixed_by) == f;
        if (!named) return false;
    }
    return true;
}
static_assert(every_fix_has_its_problem(), "a fix that no problem names");

}  // namespace

std::span<const ProblemInfo> problem_table() { return kProblems; }

const ProblemInfo& problem_info(Problem p) { return kProblems[static_cast<std::size_t>(p)]; }

std::string_view fix_text(const Finding& finding) { return problem_info(finding.problem).fix; }

const ProblemInfo* find_problem(std::string_view code) {
    for (const auto& row : kProblems)
        if (row.code == code) return &row;
    return nullptr;
}

std::string fill_template(std::string_view tmpl, std::initializer_list<std::string_view> args) {
    std::string out;
    out.reserve(tmpl.size() + 32);
    for (std::size_t i = 0; i < tmpl.size(); ++i) {
        if (tmpl[i] == '{') {
            std::size_t close = tmpl.find('}', i);
            if (close != std::string_view::npos && close > i + 1 && close - i <= 3) {
                std::size_t index = 0;
                bool digits = true;
                for (std::size_t k = i + 1; k < close; ++k) {
                    if (tmpl[k] < '0' || tmpl[k] > '9') digits = false;
                    else index = index * 10 + static_cast<std::size_t>(tmpl[k] - '0');
                }
                if (digits && index < args.size()) {
                    out += *(args.begin() + index);
                    i = close;
                    continue;
                }
            }
        }
        out += tmpl[i];
    }
    return out;
}

std::string object_text(const Location& where) {
    const auto number = [](std::optional<uint32_t> n) { return std::to_string(*n); };
    if (!where.table) return where.page ? "página " + number(where.page) : "archivo";
    std::string text = "tabla " + *where.table;
    if (where.index_name) return text + ", índice " + *where.index_name;
    if (where.page && where.slot) return text + ", página " + number(where.page) + ", fila " + number(where.slot);
    if (where.column_name) return text + ", columna " + *where.column_name;
    if (where.page) return text + ", página " + number(where.page);
    return text;
}

Finding make_finding(Problem p, Location where, std::string description) {
    const ProblemInfo& info = problem_info(p);
    std::string object = info.place.empty() ? object_text(where) : std::string(info.place);
    return Finding{std::string(info.code), info.severity, std::move(object), std::move(description),
                   std::move(where), p};
}

Finding make_finding(Problem p, Location where, std::initializer_list<std::string_view> args) {
    return make_finding(p, std::move(where), fill_template(problem_info(p).found, args));
}

}  // namespace jet
