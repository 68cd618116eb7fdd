#include <algorithm>
#include <cstdio>

#include "jet/check/check.h"
#include "jet/check/check_passes.h"

namespace jet {

FindingSink::FindingSink(std::size_t per_code_limit)
    : limit_(per_code_limit), counts_(static_cast<std::size_t>(Problem::Count), 0) {}

void FindingSink::add(Problem p, Location where, std::initializer_list<std::string_view> args) {
    if (!tap_ && counts_[static_cast<std::size_t>(p)] >= limit_) {  // past the limit: counted only
        ++total_;
        ++counts_[static_cast<std::size_t>(p)];
        return;
    }
    add(p, make_finding(p, std::move(where), args));
}

void FindingSink::add(Problem p, const Finding& finding) {
    if (tap_) tap_->push_back(CheckEvent{.problem = p, .finding = std::make_unique<const Finding>(finding)});
    ++total_;
    if (++counts_[static_cast<std::size_t>(p)] > limit_) return;
    report_.findings.push_back(finding);
}

Report FindingSink::take() {
    for (std::size_t i = 0; i < counts_.size(); ++i) {
        if (counts_[i] <= limit_) continue;
        Finding summed = make_finding(static_cast<Problem>(i), object::file(),
                                      "el mismo problema se repite " + std::to_string(counts_[i] - limit_) +
                                          " veces más (no se detallan)");
        summed.object = object_text(object::file());  // the whole file, whatever the problem's place
        report_.findings.push_back(std::move(summed));
    }
    std::fill(counts_.begin(), counts_.end(), 0);
    total_ = 0;
    return std::move(report_);
}

namespace object {
Location header() { return Location{.page = 0}; }
Location file() { return {}; }
Location page(uint32_t number) { return Location{.page = number}; }
Location table(std::string_view name) { return Location{.table = std::string(name)}; }
Location table(std::string_view name, uint32_t definition_page) {
    return Location{.definition_page = definition_page, .table = std::string(name)};
}
Location table_page(std::string_view table, uint32_t page) {
    return Location{.page = page, .table = std::string(table)};
}
Location table_row(std::string_view table, uint32_t page, int row) {
    return Location{.page = page, .slot = static_cast<uint32_t>(row), .table = std::string(table)};
}
Location index(std::string_view table, std::string_view index) {
    return Location{.table = std::string(table), .index_name = std::string(index)};
}
Location column(std::string_view table, std::string_view column) {
    return Location{.table = std::string(table), .column_name = std::string(column)};
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
