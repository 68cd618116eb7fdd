#pragma once
// Locating the real Access files the tests read; tests skip when they are absent.
#include <filesystem>
#include <string>
#include <vector>

namespace test {

inline std::filesystem::path corpus_dir() { return TARSOLIN_CORPUS_DIR; }

inline std::filesystem::path corpus_file(const std::string& relative) { return corpus_dir() / relative; }

// Every .mdb/.accdb under the corpus, sorted by path.
inline std::vector<std::filesystem::path> corpus_files() {
    std::vector<std::filesystem::path> out;
    std::error_code ec;
    if (!std::filesystem::is_directory(corpus_dir(), ec)) return out;
    for (auto& e : std::filesystem::recursive_directory_iterator(corpus_dir(), ec)) {
        auto ext = e.path().extension().string();
        if (e.is_regular_file() && (ext == ".mdb" || ext == ".accdb")) out.push_back(e.path());
    }
    std::sort(out.begin(), out.end());
    return out;
}

#define REQUIRE_CORPUS_FILE(path)                                                      \
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "corpus file absent: " << (path)

}  // namespace test
