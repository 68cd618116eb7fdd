// Repair throughput next to a plain copy of the same file, in the same run.
// Usage: bench_repair [FILE-OR-FOLDER ...] [--rounds N]
//        bench_repair --stale-copy FILE OUT   (only writes the damaged copy, for bench/large.sh)
//   A folder stands for its largest .mdb/.accdb; without arguments, the two largest files
//   of the corpus. A clean file is left alone by the repair, so each round first damages a
//   fresh copy in a cheap way that still takes the whole repair: the row count of the
//   first user table's definition made stale. Then the same steps the repair takes are
//   timed one by one on another fresh damaged copy (check, working copy, fixes, re-check,
//   commit). Wall time, best of the rounds: the repair is mostly reading and writing the
//   file, and the machine is shared, so expect noise of some tens of percent.
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "jet/check/check.h"
#include "jet/check/check_memo.h"
#include "jet/format/database.h"
#include "jet/engine.h"
#include "jet/base/format.h"
#include "jet/format/header.h"
#include "jet/repair/repair.h"
#include "jet/file/safe_commit.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

// Process CPU time (user and system, so the kernel's copying counts too): what the
// neighbours on a shared machine cannot inflate.
double cpu_ms() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

std::vector<fs::path> databases(const fs::path& folder) {
    std::vector<fs::path> out;
    for (const auto& e : fs::recursive_directory_iterator(folder)) {
        const auto ext = e.path().extension();
        if (e.is_regular_file() && (ext == ".mdb" || ext == ".accdb")) out.push_back(e.path());
    }
    std::sort(out.begin(), out.end(), [](const fs::path& a, const fs::path& b) {
        return fs::file_size(a) != fs::file_size(b) ? fs::file_size(a) > fs::file_size(b) : a < b;
    });
    return out;
}

std::vector<uint8_t> bytes_of(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Written and flushed to the disk, as the repair's commit does with its copy.
void put_synced(const fs::path& path, const std::vector<uint8_t>& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) throw std::runtime_error("cannot write " + path.string());
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) break;
        done += size_t(n);
    }
    ::fsync(fd);
    ::close(fd);
}

// The plain copy a user would make: read the file, write it elsewhere, flush it.
void plain_copy(const fs::path& from, const fs::path& to) {
    const int in = ::open(from.c_str(), O_RDONLY);
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char> buf(1 << 20);
    ssize_t n;
    while (in >= 0 && out >= 0 && (n = ::read(in, buf.data(), buf.size())) > 0)
        if (::write(out, buf.data(), size_t(n)) != n) break;
    if (out >= 0) {
        ::fsync(out);
        ::close(out);
    }
    if (in >= 0) ::close(in);
}

// The first user table's TDEF: the first catalog row of type 1 whose name does not start
// with "MSys". Found by opening the file, not by guessing offsets.
std::optional<uint32_t> first_user_tdef(const fs::path& path) {
    jet::Database db(path);
    for (const auto& t : db.user_tables()) return t.tdef_page();
    return std::nullopt;
}

// A stale row count: what a crash between writing rows and the definition leaves.
bool damage(std::vector<uint8_t>& file, uint32_t tdef, const jet::Layout& layout) {
    const size_t at = size_t(tdef) * layout.page_size + layout.tdef_num_rows;
    if (at + 4 > file.size()) return false;
    file[at] ^= 0x07;
    return true;
}

struct Split {
    double lock = 0, check = 0, copy = 0, fixes = 0, recheck = 0, commit = 0;
};

// The repair's steps one by one (see repair_database); one fix round is enough here.
Split timed_steps(const fs::path& file) {
    Split s;
    auto t = Clock::now();
    jet::DatabaseLock lock(file);
    s.lock = ms_since(t);
    t = Clock::now();
    jet::CheckMemo memo;
    const jet::Report found = jet::check_open_file(lock.file(), memo);
    s.check = ms_since(t);
    t = Clock::now();
    jet::WorkingCopy copy(lock);
    jet::RecoveryFile recovery(file);
    s.copy = ms_since(t);
    t = Clock::now();
    {
        std::vector<uint8_t> prefix(3 * 4096);
        copy.file().read_at(0, prefix);
        const jet::HeaderResult header = jet::parse_header(prefix);
        if (!header.header) throw std::runtime_error("header");
        jet::FixContext context(copy, *header.header, recovery);
        std::map<jet::Problem, std::vector<jet::Finding>> by_problem;
        for (const auto& f : found.findings) by_problem[f.problem].push_back(f);
        for (const auto& [problem, list] : by_problem)
            if (jet::FixFunction fix = jet::fix_for(problem)) context.run(fix, jet::fix_keeps_pages(problem), list);
        if (context.pages_reallocated() && !context.maps_rebuilt()) jet::rebuild_usage_maps(context);
        memo.recheck_with(context.written_pages());
        copy.file().start_writeback();
    }
    s.fixes = ms_since(t);
    t = Clock::now();
    const jet::Report after = jet::check_open_file(copy.file(), memo);
    s.recheck = ms_since(t);
    t = Clock::now();
    copy.commit(lock);
    s.commit = ms_since(t);
    recovery.discard();
    if (!after.findings.empty()) std::fprintf(stderr, "  (the re-check still finds %zu problems)\n", after.findings.size());
    return s;
}

void keep_min(Split& best, const Split& s) {
    best.lock = std::min(best.lock, s.lock);
    best.check = std::min(best.check, s.check);
    best.copy = std::min(best.copy, s.copy);
    best.fixes = std::min(best.fixes, s.fixes);
    best.recheck = std::min(best.recheck, s.recheck);
    best.commit = std::min(best.commit, s.commit);
}

void bench(const fs::path& path, int rounds, const fs::path& scratch) {
    const std::vector<uint8_t> original = bytes_of(path);
    const double mb = double(original.size()) / (1024.0 * 1024.0);
    const auto tdef = first_user_tdef(path);
    const jet::Layout* layout = jet::layout_for_version(original.size() > 0x14 ? original[0x14] : 0xFF);
    std::vector<uint8_t> damaged = original;
    if (!tdef || !layout || !damage(damaged, *tdef, *layout)) {
        std::printf("%s: no user table to damage, skipped\n", path.string().c_str());
        return;
    }
    const fs::path target = scratch / ("bench" + path.extension().string());
    const fs::path copy_target = scratch / "plain-copy.bin";
    const double inf = 1e300;
    double copy_best = inf, repair_best = inf, copy_cpu = inf, repair_cpu = inf;
    std::vector<double> ratios;  // per round: this repair over this copy
    Split split{inf, inf, inf, inf, inf, inf};
    size_t findings = 0;
    for (int r = 0; r < rounds; ++r) {
        auto t = Clock::now();
        double c = cpu_ms();
        plain_copy(path, copy_target);
        const double copy_ms = ms_since(t);
        copy_best = std::min(copy_best, copy_ms);
        copy_cpu = std::min(copy_cpu, cpu_ms() - c);

        put_synced(target, damaged);
        t = Clock::now();
        c = cpu_ms();
        const jet::Report report = jet::repair_database(target);
        const double repair_ms = ms_since(t);
        repair_best = std::min(repair_best, repair_ms);
        ratios.push_back(repair_ms / copy_ms);
        repair_cpu = std::min(repair_cpu, cpu_ms() - c);
        findings = report.findings.size();
        for (const auto& f : fs::directory_iterator(scratch))
            if (f.path() != copy_target) fs::remove(f.path());

        put_synced(target, damaged);
        keep_min(split, timed_steps(target));
        for (const auto& f : fs::directory_iterator(scratch)) fs::remove(f.path());
    }
    std::printf("%s: %.2f MB, damage: stale row count in the table at page %u (%zu finding%s)\n",
                path.string().c_str(), mb, *tdef, findings, findings == 1 ? "" : "s");
    std::printf("  plain copy:  %8.2f ms  %8.1f MB/s   CPU %6.2f ms\n", copy_best, mb / (copy_best / 1000.0), copy_cpu);
    std::printf("  repair:      %8.2f ms  %8.1f MB/s   CPU %6.2f ms  (%.2fx the copy in wall time; best of %d)\n",
                repair_best, mb / (repair_best / 1000.0), repair_cpu, repair_best / copy_best, rounds);
    std::sort(ratios.begin(), ratios.end());
    std::printf("  repair / copy, round by round: median %.2fx, best %.2fx, worst %.2fx\n", ratios[ratios.size() / 2],
                ratios.front(), ratios.back());
    std::printf("  steps (wall): lock %.2f, check %.2f, working copy %.2f, fixes %.2f, re-check %.2f, commit %.2f ms\n",
                split.lock, split.check, split.copy, split.fixes, split.recheck, split.commit);
}

}  // namespace

// The damaged copy alone, for timing the command-line repair from outside.
int stale_copy(const fs::path& from, const fs::path& to) {
    std::vector<uint8_t> bytes = bytes_of(from);
    const std::optional<uint32_t> tdef = first_user_tdef(from);
    const jet::Database db(from);
    if (!tdef || !damage(bytes, *tdef, db.layout())) return 1;
    put_synced(to, bytes);
    std::printf("%s: stale row count in the table at page %u\n", to.string().c_str(), *tdef);
    return 0;
}

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--stale-copy") == 0) return stale_copy(argv[2], argv[3]);
    std::vector<fs::path> files;
    int rounds = 5;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++i]));
        } else if (fs::is_directory(argv[i])) {
            auto all = databases(argv[i]);
            if (!all.empty()) files.push_back(all.front());
        } else {
            files.push_back(argv[i]);
        }
    }
    if (files.empty()) {
        auto all = databases(TARSOLIN_CORPUS_DIR);
        // Encrypted files cannot be repaired; take the two largest that open.
        for (const auto& f : all) {
            if (files.size() == 2) break;
            try {
                jet::Database db(f);
                files.push_back(f);
            } catch (const std::exception&) {
            }
        }
    }
    if (files.empty()) {
        std::fprintf(stderr, "usage: %s [FILE-OR-FOLDER ...] [--rounds N] (no corpus at %s)\n", argv[0],
                     TARSOLIN_CORPUS_DIR);
        return 2;
    }
    const fs::path scratch = fs::temp_directory_path() / ("bench_repair_" + std::to_string(::getpid()));
    fs::create_directories(scratch);
    try {
        for (const auto& f : files) bench(f, rounds, scratch);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        fs::remove_all(scratch);
        return 1;
    }
    fs::remove_all(scratch);
    return 0;
}
