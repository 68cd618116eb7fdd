#pragma once
// A repair's fix context over a working copy of a corpus file in a temporary folder, for
// tests that drive FixContext directly.
#include <algorithm>
#include <filesystem>
#include <vector>

#include "jet/file/recovery_file.h"
#include "jet/file/safe_commit.h"
#include "jet/format/header.h"
#include "jet/repair/repair.h"
#include "temp_folder.h"

namespace damage {

struct FixContextOnCopy {
    explicit FixContextOnCopy(const std::filesystem::path& source)
        : intact(read_bytes(source)),
          database((write_bytes(folder / source.filename().string(), intact), folder / source.filename().string())),
          parsed(jet::parse_header(std::span<const uint8_t>(intact.data(), std::min<size_t>(intact.size(), 3 * 4096)))),
          lock(database), copy(lock), recovery(database), context(copy, parsed.header.value(), recovery) {}

    TempFolder folder;
    std::vector<uint8_t> intact;
    std::filesystem::path database;
    jet::HeaderResult parsed;
    jet::DatabaseLock lock;
    jet::WorkingCopy copy;
    jet::RecoveryFile recovery;
    jet::FixContext context;
};

}  // namespace damage
