#pragma once
// Rows that break a unique index: Access refuses a table whose unique index (a primary key
// among them) holds a key twice. Per repeated key one row stays, the one other tables
// reference through a relationship, else the first in the table's physical order; the
// others are the rows to take out. Rows whose key columns are all NULL never conflict
// (Access accepts any number of them, ignore-nulls index or not).
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "jet/format/database.h"
#include "jet/index/index_key.h"
#include "jet/index/key_sorter.h"
#include "jet/format/relationships.h"

namespace jet {

// Unique by its flags or because a primary key uses it.
bool unique_real_index(const TableDef& table, size_t real_index);

// A row with its keys in the unique indexes considered (in order); nullopt for a key that
// cannot conflict (all its columns NULL).
struct UniqueKeyedRow {
    bool referenced = false;
    std::vector<std::optional<index_key::Key>> keys;
};

struct RepeatedKey {
    size_t index = 0;  // which key of UniqueKeyedRow::keys
    size_t row = 0;    // the row to take out (position in the rows)
    size_t kept = 0;   // the row that keeps the key
};

// `rows` in physical order. Indexes are resolved one after the other over the rows still
// kept, so a row taken out for one index no longer counts in the next.
std::vector<RepeatedKey> plan_repeated_keys(const std::vector<UniqueKeyedRow>& rows, size_t index_count);

struct DuplicateKeyRow {
    size_t real_index = 0;
    std::string index_name;  // logical name, or "físico N"
    RowLocation row;         // header slot of the row to take out
    RowLocation kept;
    bool kept_referenced = false;
    bool row_referenced = false;
};

// The rows to take out of one table. Tables without a unique index whose keys we can
// build give none. Keys are sorted within `limits`; memory beyond that grows only with
// the rows that repeat a key.
std::vector<DuplicateKeyRow> duplicate_key_rows(Database& db, const TableDef& table, const std::string& name,
                                                const std::vector<Relationship>& relationships,
                                                const KeySortLimits& limits = {});

// Spanish: "la fila 1 de la página 181 repite la clave de la fila 0 ..., que se conserva ...".
std::string duplicate_key_text(const DuplicateKeyRow& d);

}  // namespace jet
