#pragma once
// Data pages written over with a copy of another data page (a misdirected write): the page
// repeats the live rows of another page of the same or another table, byte for byte, and
// its own rows are gone. Only pages a table's map lists are compared: a page Access
// released may keep an older copy of rows, and no reader sees it.
//
// Which of two identical pages is the copy is told by evidence, strongest first:
// - the owner field: a page listed in one table's map that names another table was
//   written there from that table;
// - the indexes of the table that lists it: entries point at the original's rows with
//   their keys, and at the copy's slots with the keys of the rows it held;
// - nothing else: the lower page is kept (the rows are the same either way).
// Rows can be there twice on purpose: two tables may hold the same rows (each page then
// names the table whose map lists it), and a table without a unique key may repeat rows
// (its indexes then point at the rows of both pages with their keys). Neither is a copy.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "jet/format/database.h"

namespace jet {

struct PageCopy {
    uint32_t copy = 0;      // the page written over: its rows repeat the original's
    uint32_t original = 0;  // the page kept
    uint32_t listed_by = 0;  // definition page of the table whose map lists the copy (0: none)
    uint32_t rows_owner = 0;  // definition page of the table the repeated rows belong to
    uint32_t copied_rows = 0;  // live rows on the copy
    // Rows the copy held before, as its table's index entries into it (or else its stored
    // row count) tell; nothing when neither does.
    std::optional<uint32_t> lost_rows;
    std::string evidence;  // Spanish: what told the copy from the original
};

// Definition pages of the tables whose pages are compared: every table the catalog names
// but the catalog itself (its repeats are names, for the catalog checks).
std::vector<uint32_t> tables_compared(const Catalog& catalog);

// `tables`: definition pages of the tables whose maps are compared. `also`: pages to
// compare even when no map lists them (a fix may have taken a copy out of a map already).
std::vector<PageCopy> find_page_copies(Database& db, const std::vector<uint32_t>& tables,
                                       const std::vector<uint32_t>& also = {});

}  // namespace jet
