#pragma once
// The key a row should have in a real index: picks each index column from the cracked
// row and encodes it (jet/index/index_key.h). An index on a type or text sort order we cannot
// encode gets a plan that says so; such an index can only be checked structurally.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "jet/base/bytes.h"
#include "jet/index/index_key.h"
#include "jet/format/row.h"
#include "jet/format/table_def.h"
#include "jet/base/value.h"

namespace jet {

struct IndexKeyPart {
    size_t column_pos = 0;  // into TableDef::columns / CrackedRow::fields
    bool ascending = true;
    std::optional<TextSortOrder> text_order;  // text and memo columns
    bool is_boolean = false;                  // never NULL: a missing value is false
};

struct IndexKeyPlan {
    std::vector<IndexKeyPart> parts;
    bool encodable = true;
    std::string reason;  // Spanish, when not encodable
    bool legacy_decimal = false;
    std::vector<TextSortOrder> text_orders;  // distinct orders used (for statistics)
};

// Jet 4 and later keep the sort-order version byte three bytes after the LCID.
uint8_t column_sort_version(const TableDef& table, const Column& column, const Layout& layout);

IndexKeyPlan plan_index_key(const TableDef& table, const RealIndex& index, const Layout& layout,
                            uint8_t db_version_byte);

struct RowKey {
    index_key::Key key;
    bool all_null = true;  // every index column NULL (ignore-nulls indexes skip the row)
};

// Encodes the key of a decoded row (values parallel to TableDef::columns); nullopt when
// the plan is not encodable or a value does not have its column's type.
std::optional<RowKey> row_key(const IndexKeyPlan& plan, const std::vector<Value>& values);

// Keys straight from stored rows, for scans that build many keys: each row is split into
// its fields once and only the index columns are read; text keeps its exact UTF-16 code
// units (an unpaired surrogate stays itself). Otherwise the keys row_key gives for the
// decoded row.
class StoredRowKeys {
public:
    StoredRowKeys(const TableDef& table, const DecodeContext& context) : table_(table), context_(context) {}
    // Splits a row; false when its framing cannot be read (decode_row skips such rows).
    bool load(Bytes row);
    // The key of the loaded row in `plan`'s index, replacing `key`; false when the plan is
    // not encodable or a value does not have its column's type.
    bool key(const IndexKeyPlan& plan, index_key::Key& key, bool& all_null);
    // The same for scans that encode a few plans row after row: each plan is prepared once
    // (it must outlive its use) and named by the number prepare gives.
    size_t prepare(const IndexKeyPlan& plan);
    bool key(size_t prepared, index_key::Key& key, bool& all_null);
    // The same as a view of bytes kept here, valid until the next call.
    bool key(size_t prepared, std::span<const uint8_t>& key, bool& all_null);
    // Where the text values lie in the last key built.
    index_key::TextSpan text_span() const { return text_span_; }

private:
    // A plan's parts turned once into steps that know their column; raw fixed-width
    // columns get their segment writer. A plan is recognised by its address and a copy of
    // its parts (a later plan may take a dead one's address).
    struct Step {
        const Column* column = nullptr;
        index_key::FixedWriter fixed = nullptr;
        unsigned width = 0;  // stored bytes `fixed` reads
        size_t stored_size = 0;  // the column's fixed_size
    };
    struct Steps {
        const IndexKeyPlan* plan = nullptr;
        std::vector<IndexKeyPart> parts;
        bool legacy_decimal = false;
        bool columns_exist = true;
        std::vector<Step> steps;  // parallel to parts
    };
    Steps compile(const IndexKeyPlan& plan) const;
    const Steps& steps_for(const IndexKeyPlan& plan);
    // Encodes into bytes_ (the first `length` bytes); false as key() says.
    bool encode(const Steps& steps, size_t& length, bool& all_null);
    bool append_part(const IndexKeyPart& part, const IndexKeyPlan& plan, index_key::Key& key, bool& all_null);

    const TableDef& table_;
    DecodeContext context_;
    RowFrame frame_;  // only the index columns are located
    Faults ignored_;  // the row pass reports damaged fields
    std::u16string units_;  // text of the part being encoded, storage kept across rows
    std::vector<Steps> plans_;     // seen by key(plan, ...), recognised by their parts
    size_t last_plan_ = 0;
    std::vector<Steps> prepared_;  // named by number
    std::vector<uint8_t> bytes_;   // the key being built, with room to spare
    index_key::Key part_;          // a part encoded the general way
    index_key::TextSpan text_span_;
};

// UTF-8 (as decoded by the row codec) to UTF-16 code units.
std::u16string utf8_to_utf16(std::string_view text);

}  // namespace jet
