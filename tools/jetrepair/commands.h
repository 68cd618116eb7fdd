#pragma once
// The subcommands of jetrepair. Each returns the process exit code:
// 0 all done, 4 something was skipped or found, 8 the file could not be examined.
#include <filesystem>
#include <optional>
#include <string>

#include "terminal_progress.h"

int run_dump(const std::filesystem::path& file, const std::optional<std::string>& table);
// json: the result as one JSON document on standard output instead of text. progress hears
// how far the work has got (TerminalProgress shows it while stderr is a terminal).
int run_check(const std::filesystem::path& file, bool json, TerminalProgress& progress);
int run_repair(const std::filesystem::path& file, bool json, TerminalProgress& progress);

inline constexpr int kExitOk = 0;
inline constexpr int kExitSkipped = 4;
inline constexpr int kExitUnreadable = 8;
inline constexpr int kExitUsage = 2;
