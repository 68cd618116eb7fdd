// The whole repair of a file: refused (EngineError) or done, nothing else. What it leaves
// beside the file (backup, recovery file) is removed after each run.
#include "fuzz_input.h"
#include "jet/engine.h"
#include "temp_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto path = fuzz::write_scratch(data, size, "repair.mdb");
    try {
        jet::repair_database(path);
    } catch (const jet::EngineError&) {
    }
    fuzz::empty_scratch();
    return 0;
}
