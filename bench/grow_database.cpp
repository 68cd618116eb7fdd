// grow_database ORIGEN DESTINO TAMAÑO_MB [SEMILLA]: a copy of a real database grown to about
// the size asked by adding rows to its user tables (bench/grow, written by Jackcess, so the
// large files the benchmarks read come from an independent writer). Builds the Java side
// offline on first use: scripts/deps.sh --bench fetches its dependencies once. Jet 3 files,
// which Jackcess does not write, are grown by the engine itself (grow/jet3_grower.h).
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "grow/jet3_grower.h"

namespace {

std::string quoted(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

bool build_jar(const std::filesystem::path& out) {
    const std::string command = "mvn -q -B -o -f " + quoted(GROW_SOURCE_DIR "/pom.xml") +
                                " -Dgrow.out=" + quoted(out.string()) + " package";
    if (std::system(command.c_str()) == 0) return true;
    std::fprintf(stderr, "no se pudo construir bench/grow: ejecute scripts/deps.sh --bench\n");
    return false;
}

// Jet 3 files carry version 0 at offset 0x14 of page 0.
bool is_jet3(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    char header[0x15] = {};
    return in.read(header, sizeof header) && header[0x14] == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4 || argc > 5) {
        std::fprintf(stderr, "uso: grow_database ORIGEN DESTINO TAMAÑO_MB [SEMILLA]\n");
        return 2;
    }
    if (is_jet3(argv[1]))
        return bench::grow_jet3(argv[1], argv[2], std::strtoull(argv[3], nullptr, 10),
                                argc == 5 ? std::strtoull(argv[4], nullptr, 10) : 1);
    const std::filesystem::path out = GROW_BUILD_DIR;
    const std::filesystem::path jar = out / "grow-1.jar";
    if (!std::filesystem::exists(jar) && !build_jar(out)) return 3;
    std::string command = "java -cp " + quoted(jar.string() + ":" + (out / "lib" / "*").string()) + " tarsolin.grow.Grow";
    for (int i = 1; i < argc; ++i) command += " " + quoted(argv[i]);
    std::error_code ec;
    std::filesystem::remove(argv[2], ec);
    const int status = std::system(command.c_str());
    if (status != 0 || !std::filesystem::exists(argv[2])) return 1;
    return 0;
}
