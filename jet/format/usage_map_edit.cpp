#include "jet/format/usage_map_edit.h"

#include <algorithm>

#include "jet/base/bytes.h"
#include "jet/format/data_page.h"

namespace jet {
namespace {

constexpr uint8_t kInline = 0x00;
constexpr uint8_t kReference = 0x01;
constexpr size_t kMapPageBitmap = 4;

}  // namespace

std::optional<UsageMapEdit> UsageMapEdit::load(const PageStore& store, const Layout& layout, uint32_t row_pointer,
                                               std::string& why) {
    const RowPointer at = RowPointer::from_u32(row_pointer);
    std::vector<uint8_t> host = at.page == 0 ? std::vector<uint8_t>{} : store.read(at.page);
    if (host.empty()) {
        why = "el mapa de uso está fuera del archivo";
        return std::nullopt;
    }
    DataPage page(host, layout);
    if (!page.is_data_page() || at.row >= page.row_count()) {
        why = "la fila del mapa de uso no existe";
        return std::nullopt;
    }
    const RowSlot slot = page.slot(at.row);
    if (!slot.bounds_ok || slot.length() < 5 || slot.deleted()) {
        why = "la fila del mapa de uso tiene límites incorrectos";
        return std::nullopt;
    }
    UsageMapEdit edit;
    edit.layout_ = &layout;
    edit.host_ = at.page;
    edit.row_start_ = slot.start;
    edit.row_end_ = slot.end;
    edit.type_ = host[slot.start];
    edit.store_ = &store;
    edit.seen_writes_ = store.writes();
    if (edit.type_ != kInline && edit.type_ != kReference) {
        why = "el mapa de uso tiene un tipo desconocido";
        return std::nullopt;
    }
    // A slot naming a map page past the end of the file (cut off) names nothing: emptied, so
    // that a page appended later at that number is not taken for this map's.
    if (edit.type_ == kReference) {
        for (size_t at_slot = slot.start + 1; at_slot + 4 <= slot.end; at_slot += 4)
            if (u32_at(host, at_slot) >= store.page_count()) {
                std::fill_n(host.begin() + static_cast<std::ptrdiff_t>(at_slot), 4, 0);
                edit.changed_.insert(at.page);
            }
    }
    edit.pages_.emplace(at.page, std::move(host));
    return edit;
}

const uint8_t* UsageMapEdit::bit_byte(uint32_t page, uint8_t& mask) const {
    const std::vector<uint8_t>& host = pages_.at(host_);
    if (type_ == kInline) {
        const uint32_t start = u32_at(host, row_start_ + 1);
        const size_t bytes = row_end_ - row_start_ - 5;
        if (page < start || page - start >= 8 * uint64_t(bytes)) return nullptr;
        mask = static_cast<uint8_t>(1u << ((page - start) % 8));
        return host.data() + row_start_ + 5 + (page - start) / 8;
    }
    const uint64_t per_page = uint64_t(layout_->page_size - kMapPageBitmap) * 8;
    const size_t slot = static_cast<size_t>(page / per_page);
    if (slot >= (row_end_ - row_start_ - 1) / 4) return nullptr;
    const uint32_t map_page = u32_at(host, row_start_ + 1 + 4 * slot);
    if (map_page == 0) return nullptr;
    auto it = pages_.find(map_page);
    if (it == pages_.end()) it = pages_.emplace(map_page, store_->read(map_page)).first;
    if (it->second.size() != layout_->page_size || it->second[0] != page_type::usage_map) return nullptr;
    const uint64_t bit = page % per_page;
    mask = static_cast<uint8_t>(1u << (bit % 8));
    return it->second.data() + kMapPageBitmap + bit / 8;
}

uint32_t UsageMapEdit::bit_page(uint32_t page) const {
    if (type_ == kInline) return host_;
    const uint64_t per_page = uint64_t(layout_->page_size - kMapPageBitmap) * 8;
    return u32_at(pages_.at(host_), row_start_ + 1 + 4 * static_cast<size_t>(page / per_page));
}

uint8_t* UsageMapEdit::bit_byte(uint32_t page, uint8_t& mask) {
    return const_cast<uint8_t*>(static_cast<const UsageMapEdit*>(this)->bit_byte(page, mask));
}

bool UsageMapEdit::covers(uint32_t page) const {
    uint8_t mask = 0;
    return bit_byte(page, mask) != nullptr;
}

bool UsageMapEdit::get(uint32_t page) const {
    uint8_t mask = 0;
    const uint8_t* b = bit_byte(page, mask);
    return b && (*b & mask);
}

void UsageMapEdit::set(uint32_t page, bool on) {
    uint8_t mask = 0;
    uint8_t* b = bit_byte(page, mask);
    if (!b) return;
    const uint8_t was = *b;
    *b = on ? (*b | mask) : (*b & ~mask);
    if (*b != was) changed_.insert(bit_page(page));
}

void UsageMapEdit::clear_range(uint32_t first, uint32_t count) {
    const uint64_t end = std::min<uint64_t>(uint64_t(first) + count, uint64_t(UINT32_MAX) + 1);
    const uint64_t per_page = uint64_t(layout_->page_size - kMapPageBitmap) * 8;
    uint64_t p = first;
    while (p < end) {
        uint8_t mask = 0;
        uint8_t* b = bit_byte(static_cast<uint32_t>(p), mask);
        if (!b) {
            // Past what this window or slot covers: an inline window starts later or is over,
            // a reference map's next slot may cover the rest.
            if (type_ == kInline) {
                const uint32_t start = window_start();
                if (p >= start) return;
                p = start;
            } else {
                p = (p / per_page + 1) * per_page;
            }
            continue;
        }
        // A byte's low bit starts eight pages that all lie in the same window or map page.
        const bool whole = mask == 1 && p + 8 <= end;
        const uint8_t clear = whole ? 0xFF : mask;
        if (*b & clear) {
            *b &= static_cast<uint8_t>(~clear);
            changed_.insert(bit_page(static_cast<uint32_t>(p)));
        }
        p += whole ? 8 : 1;
    }
}

std::vector<uint32_t> UsageMapEdit::set_pages(uint32_t limit) const {
    std::vector<uint32_t> out;
    for (uint32_t p = 0; p < limit; ++p)
        if (get(p)) out.push_back(p);
    return out;
}

void UsageMapEdit::clear_all() {
    std::vector<uint8_t>& host = pages_.at(host_);
    if (type_ == kInline) {
        std::fill(host.begin() + static_cast<std::ptrdiff_t>(row_start_ + 5),
                  host.begin() + static_cast<std::ptrdiff_t>(row_end_), 0);
        changed_.insert(host_);
        return;
    }
    for (size_t slot = 0; slot < (row_end_ - row_start_ - 1) / 4; ++slot) {
        uint8_t mask = 0;
        const uint64_t per_page = uint64_t(layout_->page_size - kMapPageBitmap) * 8;
        if (!bit_byte(static_cast<uint32_t>(slot * per_page), mask)) continue;
        const uint32_t number = u32_at(host, row_start_ + 1 + 4 * slot);
        auto& map_page = pages_.at(number);
        std::fill(map_page.begin() + kMapPageBitmap, map_page.end(), 0);
        changed_.insert(number);
    }
}

bool UsageMapEdit::cover_all(const std::vector<uint32_t>& pages) {
    if (pages.empty()) return true;
    if (type_ != kInline) return std::all_of(pages.begin(), pages.end(), [&](uint32_t p) { return covers(p); });
    const auto [low, high] = std::minmax_element(pages.begin(), pages.end());
    if (std::all_of(pages.begin(), pages.end(), [&](uint32_t p) { return covers(p); })) return true;
    const uint32_t start = *low - *low % 8;
    if (uint64_t(*high - start) >= 8 * uint64_t(row_end_ - row_start_ - 5)) return false;
    clear_all();
    put_u32(pages_.at(host_), row_start_ + 1, start);
    changed_.insert(host_);
    return true;
}

bool UsageMapEdit::can_cover(uint32_t page) const {
    if (covers(page)) return true;
    const uint64_t per_page = uint64_t(layout_->page_size - kMapPageBitmap) * 8;
    return type_ == kReference && page / per_page < (row_end_ - row_start_ - 1) / 4;
}

uint32_t UsageMapEdit::window_start() const {
    return is_inline() ? u32_at(pages_.at(host_), row_start_ + 1) : 0;
}

uint32_t UsageMapEdit::window_pages() const {
    if (!is_inline()) return 0;
    return static_cast<uint32_t>(std::min<uint64_t>(8 * uint64_t(row_end_ - row_start_ - 5), UINT32_MAX));
}

std::optional<std::vector<size_t>> UsageMapEdit::missing_slots(const std::vector<uint32_t>& pages) const {
    std::vector<size_t> out;
    if (is_inline()) return out;
    const uint64_t per_page = uint64_t(layout_->page_size - kMapPageBitmap) * 8;
    const size_t slots = (row_end_ - row_start_ - 1) / 4;
    for (uint32_t p : pages) {
        const size_t slot = static_cast<size_t>(p / per_page);
        if (slot >= slots) return std::nullopt;
        uint8_t mask = 0;
        if (!bit_byte(p, mask) && std::find(out.begin(), out.end(), slot) == out.end()) out.push_back(slot);
    }
    std::sort(out.begin(), out.end());
    return out;
}

bool UsageMapEdit::make_reference() {
    if (row_end_ - row_start_ < 5) return false;
    std::vector<uint8_t>& host = pages_.at(host_);
    std::fill(host.begin() + static_cast<std::ptrdiff_t>(row_start_), host.begin() + static_cast<std::ptrdiff_t>(row_end_), 0);
    host[row_start_] = kReference;
    type_ = kReference;
    changed_.insert(host_);
    return true;
}

void UsageMapEdit::add_map_page(size_t slot, uint32_t page, uint64_t set_from) {
    if (type_ != kReference || slot >= (row_end_ - row_start_ - 1) / 4) return;
    std::vector<uint8_t> bytes(layout_->page_size, 0);
    bytes[0] = page_type::usage_map;
    bytes[1] = 0x01;
    const uint64_t first = slot * uint64_t(layout_->page_size - kMapPageBitmap) * 8;
    for (uint64_t bit = set_from > first ? set_from - first : 0; kMapPageBitmap + bit / 8 < bytes.size(); ++bit)
        bytes[kMapPageBitmap + bit / 8] |= static_cast<uint8_t>(1u << (bit % 8));
    pages_[page] = std::move(bytes);
    put_u32(pages_.at(host_), row_start_ + 1 + 4 * slot, page);
    changed_.insert(page);
    changed_.insert(host_);
}

void UsageMapEdit::save(PageStore& store) const {
    for (const auto& [number, bytes] : pages_)
        if (bytes.size() == store.page_size() && store.read(number) != bytes) store.write(number, bytes);
}

void UsageMapEdit::save_changes(PageStore& store) {
    const bool others = outdated(store);
    for (const auto& [number, bytes] : pages_)
        if (changed_.count(number) && bytes.size() == store.page_size()) store.write(number, bytes);
    changed_.clear();
    if (!others) seen_writes_ = store.writes();
}

bool UsageMapEdit::outdated(const PageStore& store) const {
    return std::any_of(pages_.begin(), pages_.end(),
                       [&](const auto& page) { return store.written_since(seen_writes_, page.first); });
}

bool UsageMapEdit::shares_page(const UsageMapEdit& other) const {
    return std::any_of(pages_.begin(), pages_.end(), [&](const auto& page) { return other.holds(page.first); });
}

}  // namespace jet
