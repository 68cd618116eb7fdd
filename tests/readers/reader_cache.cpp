#include "reader_cache.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace readers {

namespace fs = std::filesystem;

std::string shell_quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

Output run(const std::string& command_line) {
    Output result;
    FILE* pipe = ::popen((command_line + " 2>/dev/null").c_str(), "r");
    if (pipe == nullptr) return result;
    char buffer[65536];
    std::size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, n);
    const int status = ::pclose(pipe);
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

namespace {

// Bump when a reading made here means something else (entries of older ones stop matching).
constexpr const char* kReadingVersion = "1";

fs::path cache_dir() {
    const char* dir = std::getenv("TARSOLIN_READER_CACHE");
    return dir != nullptr ? fs::path(dir) : fs::path(TARSOLIN_READER_CACHE);
}

// The readers' versions and our mdb-reader dump script: another of either reads differently.
const std::string& readers_fingerprint() {
    static const std::string fingerprint =
        run("{ mdb-export --version 2>&1; cat " +
            shell_quote((fs::path(TARSOLIN_NODE_MODULES) / "mdb-reader" / "package.json").string()) + " " +
            shell_quote(TARSOLIN_MDB_READER_SCRIPT) + "; } | sha256sum")
            .out.substr(0, 64);
    return fingerprint;
}

// SHA-256 over the reading version, the readers, the command and the file's bytes.
std::string entry_name(const std::string& command, const fs::path& file) {
    const std::string key = std::string(kReadingVersion) + "\n" + readers_fingerprint() + "\n" + command + "\n";
    const Output hash = run("{ printf '%s' " + shell_quote(key) + "; cat " + shell_quote(file.string()) + "; } | sha256sum");
    return hash.exit_code == 0 && hash.out.size() >= 64 ? hash.out.substr(0, 64) : std::string();
}

bool load(const fs::path& entry, Output& output) {
    std::ifstream in(entry, std::ios::binary);
    if (!(in >> output.exit_code) || in.get() != '\n') return false;
    output.out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

// Written under a name of this process's own, then renamed into place in one step.
void store(const fs::path& entry, const Output& output) {
    static std::atomic<unsigned> serial{0};
    std::error_code ec;
    fs::create_directories(entry.parent_path(), ec);
    const fs::path temp = entry.string() + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(serial++);
    {
        std::ofstream out(temp, std::ios::binary);
        out << output.exit_code << '\n' << output.out;
        if (!out.flush()) return fs::remove(temp, ec), void();
    }
    fs::rename(temp, entry, ec);
    if (ec) fs::remove(temp, ec);
}

// With TARSOLIN_READER_LOG set, one line per reading: hit or run, and the test that asked.
void log(bool hit) {
    const char* path = std::getenv("TARSOLIN_READER_LOG");
    if (path == nullptr) return;
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::ofstream(path, std::ios::app) << (hit ? "hit\t" : "run\t") << (test ? test->test_suite_name() : "-") << "\n";
}

}  // namespace

Output run_on_file(const std::string& before, const fs::path& file, const std::string& after) {
    const std::string command = before + " " + shell_quote(file.string()) + after;
    const fs::path dir = cache_dir();
    const std::string name =
        dir.empty() || !fs::is_regular_file(file) ? std::string() : entry_name(before + "\x1f" + after, file);
    Output output;
    if (!name.empty() && load(dir / name, output)) {
        log(true);
        return output;
    }
    log(false);
    output = run(command);
    if (!name.empty() && output.exit_code != -1) store(dir / name, output);
    return output;
}

}  // namespace readers
