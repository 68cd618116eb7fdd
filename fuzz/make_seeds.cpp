// fuzz_seeds CORPUS OUT: writes OUT/<target>/seed-N for every target (scripts/fuzz.sh).
#include <cstdio>
#include <fstream>
#include <string>

#include "seeds.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "uso: fuzz_seeds CORPUS SALIDA\n");
        return 2;
    }
    for (auto target : fuzz::kTargets) {
        const auto folder = std::filesystem::path(argv[2]) / std::string(target);
        std::filesystem::create_directories(folder);
        const auto seeds = fuzz::seeds_for(target, argv[1]);
        for (size_t i = 0; i < seeds.size(); ++i) {
            std::ofstream out(folder / ("seed-" + std::to_string(i)), std::ios::binary);
            out.write(reinterpret_cast<const char*>(seeds[i].data()), std::streamsize(seeds[i].size()));
        }
        std::printf("%-11s %zu semillas\n", std::string(target).c_str(), seeds.size());
    }
    return 0;
}
