#include "jet/base/fault.h"

namespace jet {

const char* fault_kind_name(FaultKind kind) {
    switch (kind) {
        case FaultKind::FileLengthNotPageMultiple: return "file-length-not-page-multiple";
        case FaultKind::HeaderSignature: return "header-signature";
        case FaultKind::HeaderEngineName: return "header-engine-name";
        case FaultKind::HeaderVersionUnknown: return "header-version-unknown";
        case FaultKind::HeaderDatabaseKey: return "header-database-key";
        case FaultKind::PageOutOfRange: return "page-out-of-range";
        case FaultKind::PageWrongType: return "page-wrong-type";
        case FaultKind::PageWrongOwner: return "page-wrong-owner";
        case FaultKind::DataPageRowCount: return "data-page-row-count";
        case FaultKind::DataPageRowBounds: return "data-page-row-bounds";
        case FaultKind::DataPageRowOrder: return "data-page-row-order";
        case FaultKind::DataPageFreeSpace: return "data-page-free-space";
        case FaultKind::RowSlotMissing: return "row-slot-missing";
        case FaultKind::RowSlotDeleted: return "row-slot-deleted";
        case FaultKind::UsageMapType: return "usage-map-type";
        case FaultKind::UsageMapRow: return "usage-map-row";
        case FaultKind::UsageMapPageBad: return "usage-map-page-bad";
        case FaultKind::UsageMapOutOfRange: return "usage-map-out-of-range";
        case FaultKind::TableDefChainCycle: return "table-def-chain-cycle";
        case FaultKind::TableDefChainBroken: return "table-def-chain-broken";
        case FaultKind::TableDefTruncated: return "table-def-truncated";
        case FaultKind::TableDefLength: return "table-def-length";
        case FaultKind::TableDefColumn: return "table-def-column";
        case FaultKind::TableDefIndex: return "table-def-index";
        case FaultKind::TableDefUnreadable: return "table-def-unreadable";
        case FaultKind::CatalogUnreadable: return "catalog-unreadable";
        case FaultKind::CatalogRow: return "catalog-row";
        case FaultKind::RowTooShort: return "row-too-short";
        case FaultKind::RowColumnCount: return "row-column-count";
        case FaultKind::RowVarTable: return "row-var-table";
        case FaultKind::RowFixedField: return "row-fixed-field";
        case FaultKind::RowNullPlace: return "row-null-place";
        case FaultKind::RowFieldLength: return "row-field-length";
        case FaultKind::OverflowPointer: return "overflow-pointer";
        case FaultKind::LongValueKind: return "long-value-kind";
        case FaultKind::LongValuePointer: return "long-value-pointer";
        case FaultKind::LongValueCycle: return "long-value-cycle";
        case FaultKind::LongValueTruncated: return "long-value-truncated";
    }
    return "unknown";
}

}  // namespace jet
