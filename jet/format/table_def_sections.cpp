#include "jet/format/table_def_sections.h"

#include "jet/base/bytes.h"

namespace jet {
namespace {

// Skips `count` length-prefixed names from `at`; the start of each (and the end) noted.
bool skip_names(const std::vector<uint8_t>& b, const Layout& l, size_t& at, size_t count, std::vector<size_t>* starts) {
    for (size_t i = 0; i < count; ++i) {
        if (starts) starts->push_back(at);
        if (!fits(b, at, l.name_length_size)) return false;
        const size_t length = l.name_length_size == 1 ? u8_at(b, at) : u16_at(b, at);
        at += l.name_length_size;
        if (!fits(b, at, length)) return false;
        at += length;
    }
    if (starts) starts->push_back(at);
    return true;
}

}  // namespace

std::optional<TableDefSections> table_def_sections(const TableDef& t, const Layout& l) {
    if (!t.complete) return std::nullopt;
    TableDefSections s;
    s.count_entries = l.tdef_variable_start;
    s.columns = s.count_entries + t.real_indexes.size() * l.real_index_count_entry_size;
    s.column_names = s.columns + t.columns.size() * l.column_size;
    size_t at = s.column_names;
    if (!skip_names(t.buffer, l, at, t.columns.size(), nullptr)) return std::nullopt;
    s.real_indexes = at;
    s.logical_indexes = s.real_indexes + t.real_indexes.size() * l.real_index_size;
    at = s.logical_indexes + t.logical_indexes.size() * l.logical_index_size;
    if (!skip_names(t.buffer, l, at, t.logical_indexes.size(), &s.logical_names)) return std::nullopt;
    if (at > t.parsed_length) return std::nullopt;
    return s;
}

}  // namespace jet
