// TDEF_COLUMN_TYPE: a column whose type byte no version of Access writes (zeroed, or a
// value past the known types) makes its table unreadable. The type is told again from
// the rest of its descriptor, its indexes and its rows (jet/format/column_type_guess.h) and
// written back; every other byte of the definition stays. Runs before the count fixes:
// a long-value column read with a lost type would make them re-point its map entry.
#include <map>
#include <string>

#include "jet/format/catalog.h"
#include "jet/format/column_type_guess.h"
#include "jet/format/database.h"
#include "jet/repair/fix_table_def.h"
#include "jet/file/page_file.h"
#include "jet/repair/repair.h"

namespace jet {

void fix_column_types(FixContext& context) {
    const Layout& l = *context.header().layout;
    const uint8_t version = context.header().version_byte;
    Database& db = context.database();
    const uint16_t code_page = db.decode_context().code_page;
    for (const auto& [name, page] : every_table(db.catalog(), context.page_count())) {
        const PageFile& file = context.pages();
        const TableDefResult read = read_table_def(file, l, page, code_page);
        // Only a definition whose sections read to its length: with a count astray the
        // descriptors are read from the wrong bytes (the count fix sets it right first).
        if (!read.table || !read.table->complete || read.table->parsed_length != read.table->tdef_len) continue;
        const TableDef& t = *read.table;
        std::vector<uint8_t> buffer = t.buffer;
        for (const Column& c : t.columns) {
            if (type_known_for(c.stored_type, version, l) || c.descriptor_offset + l.col_type >= buffer.size()) continue;
            ColumnValues values = column_values(file, l, t, c, code_page);
            values.complex_listed = complex_column_listed(db, page, c.name);
            buffer[c.descriptor_offset + l.col_type] = guess_column_type(t, name, c, l, version, values).type;
        }
        if (buffer != t.buffer) write_table_def(context, t, buffer);
    }
}

}  // namespace jet
