// check_database(): opens the file read-only, refuses what cannot be examined, then runs
// the passes in their fixed order.
#include <optional>
#include <system_error>

#include "jet/check_passes.h"

namespace jet {
namespace {

constexpr size_t kHeaderProbeBytes = 3 * 4096;  // page 0 plus enough to probe page 2

std::string quoted(const std::filesystem::path& path) { return "«" + path.string() + "»"; }

// Everything that makes a path unexaminable before a byte of it is read.
void require_regular_file(const std::filesystem::path& path) {
    if (path.empty()) throw EngineError("No se ha indicado ningún archivo.");
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (ec || !std::filesystem::exists(status)) throw EngineError("El archivo " + quoted(path) + " no existe.");
    if (std::filesystem::is_directory(status))
        throw EngineError(quoted(path) + " es una carpeta, no una base de datos.");
    if (!std::filesystem::is_regular_file(status))
        throw EngineError(quoted(path) + " no es un archivo normal.");
    const auto size = std::filesystem::file_size(path, ec);
    if (ec) throw EngineError("No se puede leer el archivo " + quoted(path) + ".");
    if (size == 0) throw EngineError("El archivo " + quoted(path) + " está vacío.");
}

}  // namespace

Report check_database(const std::filesystem::path& path) {
    require_regular_file(path);
    std::optional<PageFile> opened;
    try {
        opened.emplace(path, PageFile::Mode::ReadOnly);
    } catch (const std::exception&) {
        throw EngineError("No se puede abrir el archivo " + quoted(path) + " para leerlo.");
    }
    PageFile& file = *opened;

    const HeaderResult parsed = parse_header(file.read_prefix(kHeaderProbeBytes));
    if (!parsed.is_database)
        throw EngineError("El archivo " + quoted(path) + " no es una base de datos de Access.");
    if (!parsed.header)
        throw EngineError("No se reconoce la versión de la base de datos " + quoted(path) +
                          ": la cabecera está dañada.");
    const Header& header = *parsed.header;
    if (header.encrypted())
        throw EngineError("La base de datos " + quoted(path) +
                          " está cifrada; no se puede examinar sin descifrarla.");
    file.set_page_size(header.page_size());
    if (file.page_count() < 3)
        throw EngineError("El archivo " + quoted(path) +
                          " está truncado: le faltan las páginas básicas de la base de datos.");

    FindingSink sink;
    check_header(parsed, file, sink);
    return sink.take();
}

}  // namespace jet
