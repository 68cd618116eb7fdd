// A rewritten definition laid back over the pages its chain already has.
#include <algorithm>

#include "jet/base/bytes.h"
#include "jet/repair/fix_indexes.h"
#include "jet/repair/fix_table_def.h"
#include "jet/repair/repair.h"
#include "jet/format/usage_map_edit.h"

namespace jet {
namespace {

constexpr size_t kFreeSpace = 0x02;
constexpr size_t kNextPage = 0x04;
constexpr size_t kContinuationHeader = 8;
constexpr uint32_t kGlobalMap = (1u << 8) | 0u;  // page 1, row 0

// Where page k of the chain starts in the logical buffer, and how much it holds.
size_t page_start(size_t k, size_t page_size) {
    return k == 0 ? 0 : page_size + (k - 1) * (page_size - kContinuationHeader);
}

size_t used_on_page(size_t k, size_t length, size_t page_size) {
    const size_t start = page_start(k, page_size);
    const size_t room = k == 0 ? page_size : page_size - kContinuationHeader;
    return length <= start ? 0 : std::min(room, length - start);
}

}  // namespace

void write_table_def(FixContext& context, const TableDef& old, const std::vector<uint8_t>& buffer) {
    const Layout& l = *context.header().layout;
    const size_t ps = context.page_size();
    const size_t old_length = std::min<size_t>(old.tdef_len, old.buffer.size());
    std::vector<uint32_t> dropped;
    for (size_t k = 0; k < old.pages.size(); ++k) {
        std::vector<uint8_t> page = context.read_page(old.pages[k]);
        if (page.size() != ps) return;
        const size_t used = used_on_page(k, buffer.size(), ps);
        if (k > 0 && used == 0) {
            dropped.push_back(old.pages[k]);
            std::fill(page.begin(), page.end(), 0);
            context.write_page(old.pages[k], page);
            continue;
        }
        const size_t start = page_start(k, ps);
        const size_t body = k == 0 ? 0 : kContinuationHeader;
        for (size_t i = body; i < ps; ++i) {
            const size_t o = start + i - body;
            if (o < buffer.size())
                page[i] = buffer[o];
            else if (o < old_length)
                page[i] = 0;
        }
        if (k + 1 < old.pages.size() && used_on_page(k + 1, buffer.size(), ps) == 0)
            for (size_t i = 0; i < 4; ++i) page[kNextPage + i] = 0;
        if (!l.jet3) {
            const long field = long(u16_at(page, kFreeSpace)) + long(used_on_page(k, old_length, ps)) - long(used);
            if (field >= 0 && field < long(ps)) {
                page[kFreeSpace] = uint8_t(field);
                page[kFreeSpace + 1] = uint8_t(field >> 8);
            }
        }
        context.write_page(old.pages[k], page);
    }
    if (dropped.empty()) return;
    PageStore& store = context;
    std::string why;
    if (auto global = UsageMapEdit::load(store, l, kGlobalMap, why)) {
        for (uint32_t p : dropped) global->set(p, true);
        global->save(store);
    }
}

}  // namespace jet
