#pragma once
// A structural fault the reader met: what it could not decode or found inconsistent.
// Faults are data, not exceptions: the reader keeps going and collects them, and the
// checker maps each kind onto a problem code.
#include <cstdint>
#include <string>
#include <vector>

namespace jet {

enum class FaultKind {
    // File and page 0.
    FileLengthNotPageMultiple,  // trailing partial page ignored
    HeaderSignature,            // bytes 0-3 not 00 01 00 00
    HeaderEngineName,           // engine name not a known one
    HeaderVersionUnknown,       // version byte unknown; layout guessed
    PageOutOfRange,             // a pointer names a page past the end of the file
    PageWrongType,              // page has an unexpected type byte
    PageWrongOwner,             // data page owner field differs from the expected TDEF

    // Data pages.
    DataPageRowCount,          // row count does not fit the page
    DataPageRowBounds,         // a row lies outside the page or overlaps the slot table
    DataPageRowOrder,          // row starts not decreasing in slot order
    DataPageFreeSpace,         // free-space field disagrees with the rows
    RowSlotMissing,            // a pointer names a slot the page does not have
    RowSlotDeleted,            // a pointer names a deleted slot

    // Usage maps.
    UsageMapType,        // map row has an unknown type byte
    UsageMapRow,         // map row missing or too short
    UsageMapPageBad,     // a reference map names a page that is not a map page
    UsageMapOutOfRange,  // bits set for pages past the end of the file

    // Table definitions.
    TableDefChainCycle,      // continuation pages loop
    TableDefChainBroken,     // continuation pointer to a non-TDEF page or past the end
    TableDefTruncated,       // the definition's sections run past its data
    TableDefLength,          // tdef_len disagrees with the sections
    TableDefColumn,          // a column descriptor is inconsistent
    TableDefIndex,           // an index block is inconsistent
    TableDefUnreadable,      // nothing usable at this TDEF page

    // Catalog.
    CatalogUnreadable,  // MSysObjects could not be read
    CatalogRow,         // a catalog row lacks required values

    // Rows.
    RowTooShort,         // shorter than its fixed parts
    RowColumnCount,      // stored column count implausible
    RowVarTable,         // variable-offset table inconsistent
    RowFixedField,       // fixed field outside the row
    RowNullPlace,        // a NULL field's place outside the row or out of order
    RowFieldLength,      // a value has the wrong size for its type
    OverflowPointer,     // overflow pointer bad, looping or too many hops

    // Long values.
    LongValueKind,       // unknown storage kind bits
    LongValuePointer,    // pointer to a page/row that is not an LVAL row
    LongValueCycle,      // chain loops
    LongValueTruncated,  // fewer bytes stored than declared

    // Page 0 (appended).
    HeaderDatabaseKey,   // non-zero key while pages read plainly
};

struct Fault {
    FaultKind kind;
    uint32_t page = 0;  // 0 when the fault concerns no single page
    int row = -1;       // row slot, -1 when none
    std::string table;  // table name when known
    std::string detail; // Spanish, for people
};

using Faults = std::vector<Fault>;

// Stable identifier of a fault kind, e.g. "row-var-table" (for logs and tests).
const char* fault_kind_name(FaultKind kind);

}  // namespace jet
