#include <algorithm>
#include <cstdio>

#include "jet/check.h"
#include "jet/check_passes.h"

namespace jet {

FindingSink::FindingSink(std::size_t per_code_limit)
    : limit_(per_code_limit), counts_(static_cast<std::size_t>(Problem::Count), 0) {}

void FindingSink::add(Problem p, std::string object, std::initializer_list<std::string_view> args) {
    if (!tap_ && counts_[static_cast<std::size_t>(p)] >= limit_) {  // past the limit: counted only
        ++total_;
        ++counts_[static_cast<std::size_t>(p)];
        return;
    }
    add(p, make_finding(p, std::move(object), args));
}

void FindingSink::add(Problem p, const Finding& finding) {
    if (tap_) tap_->push_back(CheckEvent{p, finding});
    ++total_;
    if (++counts_[static_cast<std::size_t>(p)] > limit_) return;
    report_.findings.push_back(finding);
}

Report FindingSink::take() {
    for (std::size_t i = 0; i < counts_.size(); ++i) {
        if (counts_[i] <= limit_) continue;
        const ProblemInfo& info = problem_table()[i];
        report_.findings.push_back(Finding{std::string(info.code), info.severity, object::file(),
                                           "el mismo problema se repite " +
                                               std::to_string(counts_[i] - limit_) +
                                               " veces más (no se detallan)"});
    }
    std::fill(counts_.begin(), counts_.end(), 0);
    total_ = 0;
    return std::move(report_);
}

namespace object {
std::string header() { return "cabecera (página 0)"; }
std::string file() { return "archivo"; }
std::string page(uint32_t number) { return "página " + std::to_string(number); }
std::string table(std::string_view name) { return "tabla " + std::string(name); }
std::string table_page(std::string_view table, uint32_t page) {
    return object::table(table) + ", página " + std::to_string(page);
}
std::string table_row(std::string_view table, uint32_t page, int row) {
    return table_page(table, page) + ", fila " + std::to_string(row);
}
std::string index(std::string_view table, std::string_view index) {
    return object::table(table) + ", índice " + std::string(index);
}
std::string column(std::string_view table, std::string_view column) {
    return object::table(table) + ", columna " + std::string(column);
}
}  // namespace object

std::string hex_byte(uint8_t value) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", value);
    return buf;
}

std::string hex_u16(uint16_t value) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%04X", value);
    return buf;
}

}  // namespace jet
