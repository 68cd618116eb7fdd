// Runs one fuzz target, built without libFuzzer, over its regression inputs, a handful of
// seeds cut from the corpus, and any files named on the command line: how the ordinary
// sanitizer build keeps every target exercised without a fuzzing compiler.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "fuzz_input.h"
#include "regressions.h"
#include "seeds.h"

namespace {

void run(const fuzz::Seed& input) { LLVMFuzzerTestOneInput(input.data(), input.size()); }

}  // namespace

// fuzz_replay_<target> [--corpus DIR] [--seeds N] [FILE...]
int main(int argc, char** argv) {
    std::filesystem::path corpus;
    size_t seed_count = 8;
    std::vector<std::filesystem::path> files;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--corpus" && i + 1 < argc)
            corpus = argv[++i];
        else if (arg == "--seeds" && i + 1 < argc)
            seed_count = std::stoul(argv[++i]);
        else
            files.emplace_back(arg);
    }
    const auto regressions = fuzz::regression_inputs(FUZZ_TARGET_NAME);
    for (const auto& input : regressions) run(input);
    std::printf("%s: %zu entradas de regresión\n", FUZZ_TARGET_NAME, regressions.size());
    if (!corpus.empty()) {
        if (!std::filesystem::is_directory(corpus)) {
            std::printf("%s: sin corpus en %s, semillas omitidas\n", FUZZ_TARGET_NAME, corpus.string().c_str());
        } else {
            const auto seeds = fuzz::spread(fuzz::seeds_for(FUZZ_TARGET_NAME, corpus), seed_count);
            for (const auto& input : seeds) run(input);
            std::printf("%s: %zu semillas\n", FUZZ_TARGET_NAME, seeds.size());
        }
    }
    for (const auto& file : files) {
        std::ifstream in(file, std::ios::binary);
        run(fuzz::Seed{std::istreambuf_iterator<char>(in), {}});
    }
    return 0;
}
