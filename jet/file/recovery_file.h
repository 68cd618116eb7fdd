#pragma once
// Data that a fix has to drop (a row, a value) is first saved here, as far as it decodes:
// a text file beside the database, "<stem> (datos recuperados).jsonl" (then "... 2)", never
// overwriting a file), one JSON object per line, UTF-8. Created on the first item only.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "jet/file/interrupt_cleanup.h"
#include "jet/file/native_file.h"

namespace jet {

struct RecoveredItem {
    std::string table;   // table name when known
    uint32_t page = 0;   // where the item was
    int row = -1;        // row slot, -1 when not a row
    std::string column;  // set when a single value is dropped
    std::string reason;  // Spanish: why it is dropped
    // Values that decoded: column name and the value as text.
    std::vector<std::pair<std::string, std::string>> values;
    // The raw bytes of the item (hex in the file), whether or not they decoded.
    std::vector<uint8_t> raw;
};

class RecoveryFile {
public:
    explicit RecoveryFile(std::filesystem::path database) : database_(std::move(database)) {}
    RecoveryFile(const RecoveryFile&) = delete;
    RecoveryFile& operator=(const RecoveryFile&) = delete;

    // Appends one line and makes it durable before returning; throws EngineError (Spanish,
    // naming the file) when it cannot, so nothing is dropped unsaved.
    void save(const RecoveredItem& item);

    std::size_t count() const noexcept { return count_; }
    // Empty until the first item is saved.
    const std::filesystem::path& path() const noexcept { return path_; }
    // Removes the file (the repair gave up, so nothing was dropped).
    void discard() noexcept;
    // The repair is committed: the file stays, even if a stop comes now.
    void keep() noexcept { scratch_.reset(); }

private:
    std::filesystem::path database_;
    std::filesystem::path path_;
    NativeFile file_;
    std::uint64_t size_ = 0;
    std::size_t count_ = 0;
    std::optional<RemovedOnSignal> scratch_;  // until the repair is committed
};

std::filesystem::path recovery_name(const std::filesystem::path& database, unsigned n);

// One JSON line (with its newline) for an item; exposed for tests.
std::string recovery_line(const RecoveredItem& item);

}  // namespace jet
