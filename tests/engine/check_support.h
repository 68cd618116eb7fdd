#pragma once
// Helpers for the check tests: private copies of corpus files in a temporary folder,
// byte patches on them, and questions about a report.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "corpus.h"
#include "jet/engine.h"
#include "jet/format/header.h"

namespace test {

// A fresh folder removed with everything in it when the object dies.
class TempDir {
public:
    TempDir() {
        static std::atomic<int> counter{0};
        path_ = std::filesystem::temp_directory_path() /
                ("jet-check-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

inline std::vector<uint8_t> read_bytes(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void write_bytes(const std::filesystem::path& p, const std::vector<uint8_t>& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A private copy of a corpus file whose bytes a test may change; the original is never
// touched.
class DamagedCopy {
public:
    explicit DamagedCopy(const std::string& relative)
        : source_(corpus_file(relative)), path_(dir_.path() / source_.filename()) {
        if (std::filesystem::exists(source_)) bytes_ = read_bytes(source_);
    }
    bool available() const { return !bytes_.empty(); }
    std::vector<uint8_t>& bytes() { return bytes_; }
    uint32_t page_size() const { return bytes_.size() > 0x14 && bytes_[0x14] == 0 ? 2048 : 4096; }
    uint8_t* page(uint32_t n) { return bytes_.data() + size_t(n) * page_size(); }

    // Runs f on page 0 with its masked region decoded, then masks it again.
    template <class F>
    void edit_unmasked_header(F f) {
        const jet::Layout& layout = page_size() == 2048 ? jet::kJet3Layout : jet::kJet4Layout;
        std::span<uint8_t> page0(bytes_.data(), page_size());
        jet::apply_header_mask(page0, layout);
        f(page0);
        jet::apply_header_mask(page0, layout);
    }

    const std::filesystem::path& save() {
        write_bytes(path_, bytes_);
        return path_;
    }
    const std::filesystem::path& path() const { return path_; }

private:
    TempDir dir_;
    std::filesystem::path source_;
    std::filesystem::path path_;
    std::vector<uint8_t> bytes_;
};

#define REQUIRE_COPY(copy) \
    if (!(copy).available()) GTEST_SKIP() << "corpus file absent under " << test::corpus_dir()

inline std::vector<std::string> codes_of(const jet::Report& r) {
    std::vector<std::string> out;
    for (const auto& f : r.findings) out.push_back(f.code);
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

inline bool has_code(const jet::Report& r, const std::string& code) {
    return std::any_of(r.findings.begin(), r.findings.end(), [&](const auto& f) { return f.code == code; });
}

inline std::string describe(const jet::Report& r) {
    std::string out;
    for (const auto& f : r.findings) out += "  " + f.code + " | " + f.object + " | " + f.description + "\n";
    return out.empty() ? "  (sin hallazgos)\n" : out;
}

}  // namespace test
