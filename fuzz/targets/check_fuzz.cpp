// The whole check of a file: refused (EngineError) or reported, nothing else.
#include "fuzz_input.h"
#include "jet/engine.h"
#include "temp_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto path = fuzz::write_scratch(data, size, "check.mdb");
    try {
        jet::check_database(path);
    } catch (const jet::EngineError&) {
    }
    return 0;
}
