// Throughput of the check (and of reading every row) on the largest corpus files, next to
// mdbtools exporting the same tables in the same run, plus peak memory.
//   bench_check_dump [corpus-dir] [how-many-files]
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "jet/engine.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

struct CorpusFile {
    fs::path path;
    uint64_t bytes = 0;
};

// The manifest's largest files, skipping what cannot be examined (encrypted).
std::vector<CorpusFile> largest_files(const fs::path& corpus, size_t count) {
    std::vector<CorpusFile> files;
    std::ifstream manifest(corpus / "MANIFEST.tsv");
    std::string line;
    std::getline(manifest, line);  // column names
    while (std::getline(manifest, line)) {
        std::istringstream fields(line);
        std::string name, format, bytes;
        std::getline(fields, name, '\t');
        std::getline(fields, format, '\t');
        std::getline(fields, bytes, '\t');
        if (line.find("encrypted") != std::string::npos) continue;
        if (!fs::exists(corpus / name)) continue;
        files.push_back({corpus / name, std::stoull(bytes)});
    }
    std::sort(files.begin(), files.end(), [](auto& a, auto& b) { return a.bytes > b.bytes; });
    if (files.size() > count) files.resize(count);
    return files;
}

long g_child_peak_kib = 0;  // largest resident size of the children since the last reset

// Runs argv with stdout discarded (or captured when capture is set); returns the exit
// status and records the child's peak memory.
int run(const std::vector<std::string>& args, std::string* capture) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int pipe_fds[2] = {-1, -1};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (capture) {
        if (pipe(pipe_fds) != 0) return -1;
        posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, pipe_fds[0]);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    }
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (capture) {
        close(pipe_fds[1]);
        char buf[4096];
        ssize_t n;
        while ((n = read(pipe_fds[0], buf, sizeof buf)) > 0) capture->append(buf, size_t(n));
        close(pipe_fds[0]);
    }
    if (rc != 0) return -1;
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    g_child_peak_kib = std::max<long>(g_child_peak_kib, usage.ru_maxrss);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// mdb-tables + mdb-export of every user table, as a user of mdbtools would dump a file.
bool mdbtools_export(const fs::path& file) {
    std::string tables;
    if (run({"mdb-tables", "-1", file.string()}, &tables) != 0) return false;
    std::istringstream lines(tables);
    std::string table;
    while (std::getline(lines, table))
        if (!table.empty()) run({"mdb-export", file.string(), table}, nullptr);
    return true;
}

// Repeats f until at least min_seconds have passed; returns seconds per run.
template <class F>
double seconds_per_run(F f, double min_seconds) {
    int runs = 0;
    const auto start = Clock::now();
    double elapsed = 0;
    do {
        f();
        ++runs;
        elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    } while (elapsed < min_seconds);
    return elapsed / runs;
}

long self_peak_kib() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

#ifdef JETREPAIR_EXE
const char* const kJetrepair = JETREPAIR_EXE;
#else
const char* const kJetrepair = nullptr;
#endif

}  // namespace

int main(int argc, char** argv) {
    const fs::path corpus = argc > 1 ? fs::path(argv[1]) : fs::path(TARSOLIN_CORPUS_DIR);
    const size_t count = argc > 2 ? std::stoul(argv[2]) : 5;
    const auto files = largest_files(corpus, count);
    if (files.empty()) {
        std::fprintf(stderr, "No hay archivos del corpus en %s\n", corpus.string().c_str());
        return 1;
    }
    const bool have_mdbtools = run({"mdb-ver", "-M"}, nullptr) >= 0;
    const bool have_dump = kJetrepair && fs::exists(kJetrepair);

    // The external tools are timed from a child forked now, while this process is still
    // small: Linux carries a process's peak memory over into the programs it starts, so
    // spawning them after the check has run would inflate their figures.
    struct External {
        double dump_s = 0, mdb_s = 0;
        long dump_peak = 0, mdb_peak = 0;
    };
    std::vector<External> external(files.size());
    int fds[2];
    if (pipe(fds) != 0) return 1;
    const pid_t runner = fork();
    if (runner == 0) {
        close(fds[0]);
        for (size_t k = 0; k < files.size(); ++k) {
            External& e = external[k];
            if (have_dump) {
                g_child_peak_kib = 0;
                e.dump_s = seconds_per_run([&] { run({kJetrepair, "dump", files[k].path.string()}, nullptr); }, 0.5);
                e.dump_peak = g_child_peak_kib;
            }
            if (have_mdbtools) {
                g_child_peak_kib = 0;
                e.mdb_s = seconds_per_run([&] { mdbtools_export(files[k].path); }, 0.5);
                e.mdb_peak = g_child_peak_kib;
            }
        }
        const auto size = static_cast<ssize_t>(sizeof(External) * external.size());
        _exit(write(fds[1], external.data(), size_t(size)) == size ? 0 : 1);
    }
    close(fds[1]);
    size_t got = 0;
    auto* out = reinterpret_cast<char*>(external.data());
    ssize_t n;
    while (got < sizeof(External) * external.size() &&
           (n = read(fds[0], out + got, sizeof(External) * external.size() - got)) > 0)
        got += size_t(n);
    close(fds[0]);
    waitpid(runner, nullptr, 0);

    std::printf("MB/s = tamaño del archivo / tiempo; cada cifra es la media de varias pasadas (>= 0,5 s).\n");
    std::printf("%-56s %6s %8s %8s %9s %8s %8s\n", "archivo", "KiB", "check", "dump", "mdbtools", "check/m", "dump/m");
    double total_mb = 0, total_check = 0, total_dump = 0, total_mdb = 0;
    long dump_peak = 0, mdb_peak = 0;
    for (size_t k = 0; k < files.size(); ++k) {
        const auto& f = files[k];
        const double mb = double(f.bytes) / 1e6;
        size_t findings = 0;
        const double check_s = seconds_per_run(
            [&] { findings = jet::check_database(f.path).findings.size(); }, 0.5);
        const double dump_s = external[k].dump_s, mdb_s = external[k].mdb_s;
        dump_peak = std::max(dump_peak, external[k].dump_peak);
        mdb_peak = std::max(mdb_peak, external[k].mdb_peak);
        total_mb += mb;
        total_check += check_s;
        total_dump += dump_s;
        total_mdb += mdb_s;
        const std::string name = fs::relative(f.path, corpus).generic_string();
        std::printf("%-56s %6.0f %8.1f %8.1f %9.1f %7.1fx %7.1fx  (%zu hallazgos)\n", name.c_str(),
                    double(f.bytes) / 1024, mb / check_s, dump_s > 0 ? mb / dump_s : 0.0, mdb_s > 0 ? mb / mdb_s : 0.0,
                    mdb_s > 0 ? mdb_s / check_s : 0.0, mdb_s > 0 && dump_s > 0 ? mdb_s / dump_s : 0.0, findings);
    }
    std::printf("%-56s %6.0f %8.1f %8.1f %9.1f %7.1fx %7.1fx\n", "total", total_mb * 1e6 / 1024,
                total_mb / total_check, total_dump > 0 ? total_mb / total_dump : 0.0,
                total_mdb > 0 ? total_mb / total_mdb : 0.0, total_mdb > 0 ? total_mdb / total_check : 0.0,
                total_mdb > 0 && total_dump > 0 ? total_mdb / total_dump : 0.0);
    std::printf("memoria máxima (KiB): check (este proceso) %ld; jetrepair dump %ld; mdbtools %ld\n",
                self_peak_kib(), dump_peak, mdb_peak);
    return 0;
}
