#include "platform/engine/jet_engine.h"

#include <filesystem>
#include <new>

#include "jet/engine.h"
#include "platform/failure.h"
#include "platform/text.h"

namespace platform {

namespace {

std::filesystem::path path_from(const std::u16string& name) {
#ifdef _WIN32
    return std::filesystem::path(std::wstring(name.begin(), name.end()));
#else
    return std::filesystem::path(utf8_from_utf16(name));
#endif
}

}  // namespace

void JetEngine::repair_database(const std::u16string& name) {
    try {
        jet::repair_database(path_from(name));
    } catch (const jet::EngineError& error) {
        throw Failure(utf16_from_utf8(error.what()));
    } catch (const std::bad_alloc&) {
        throw Failure(u"No hay memoria suficiente para reparar la base de datos.");
    }
}

JetEngineFactory::JetEngineFactory() { jet::remove_unfinished_repair_on_signal(nullptr); }

std::unique_ptr<DatabaseEngine> JetEngineFactory::create() { return std::make_unique<JetEngine>(); }

}  // namespace platform
