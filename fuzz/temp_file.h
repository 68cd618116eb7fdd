#pragma once
// The whole-file targets write each input to a file of their own folder (the engine opens
// databases by path), emptied again after every run.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace fuzz {

// Removed with what it holds when the program ends normally.
struct ScratchFolder {
    std::filesystem::path path;
    ScratchFolder()
        : path(std::filesystem::temp_directory_path() / ("tarsolin-fuzz-" + std::to_string(::getpid()))) {
        std::filesystem::create_directories(path);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

inline const std::filesystem::path& scratch_folder() {
    static const ScratchFolder folder;
    return folder.path;
}

inline std::filesystem::path write_scratch(const uint8_t* data, size_t size, const char* name) {
    const auto path = scratch_folder() / name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return path;
}

inline void empty_scratch() {
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(scratch_folder(), ignored))
        std::filesystem::remove_all(entry.path(), ignored);
}

}  // namespace fuzz
