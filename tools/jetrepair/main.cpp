// jetrepair: the repair engine on the command line.
#include <CLI/CLI.hpp>

#include <iostream>
#include <vector>

#include "command_line.h"
#include "commands.h"
#include "jet/engine.h"
#include "terminal_progress.h"
#include "usage_error.h"

namespace {

void spanish_help(CLI::App& app) {
    app.option_defaults()->group("Opciones");
    app.set_help_flag("-h,--help", "Muestra esta ayuda y termina");
    auto fmt = app.get_formatter();
    fmt->label("Usage", "Uso");
    fmt->label("OPTIONS", "OPCIONES");
    fmt->label("SUBCOMMAND", "SUBORDEN");
    fmt->label("SUBCOMMANDS", "SUBÓRDENES");
    fmt->label("POSITIONALS", "ARGUMENTOS");
    fmt->label("Positionals", "Argumentos");
    fmt->label("REQUIRED", "OBLIGATORIO");
    fmt->label("TEXT", "TEXTO");
    fmt->label("FILE", "ARCHIVO");
}

// argv in UTF-8.
int run(int argc, char** argv) {
    CLI::App app{"Comprueba, repara y vuelca bases de datos de Access (Jet 3, Jet 4 y ACE).\n"
                 "Códigos de salida: 0 todo correcto, 4 algo se omitió o se encontraron problemas,\n"
                 "8 el archivo no se pudo examinar, 2 argumentos no válidos.",
                 "jetrepair"};
    spanish_help(app);
    app.set_version_flag("-V,--version",
                         "jetrepair " TARSOLIN_VERSION "\n"
                         "Formatos: Jet 3 (.mdb de Access 95 y 97), Jet 4 (.mdb de Access 2000 a 2003) y ACE "
                         "(.accdb de Access 2007 y posteriores).",
                         "Muestra la versión y los formatos que trata, y termina");
    app.require_subcommand(1);
    app.allow_windows_style_options(false);  // "/carpeta/base.mdb" is a file, never an option

    std::string file;
    std::optional<std::string> table;
    bool json = false, quiet = false;
    const char* const json_help = "Escribe el resultado como un documento JSON por la salida estándar";
    const char* const quiet_help = "No muestra en el terminal cómo avanza el trabajo";

    auto* dump = app.add_subcommand("dump", "Vuelca las tablas de usuario en JSON por la salida estándar");
    dump->group("Subórdenes");
    spanish_help(*dump);
    dump->add_option("--table", table, "Vuelca solo la tabla con este nombre")->option_text("NOMBRE");
    dump->add_option("ARCHIVO", file, "Base de datos (.mdb o .accdb)")->required()->type_name("");

    auto* check = app.add_subcommand("check", "Comprueba la base de datos sin modificarla");
    check->group("Subórdenes");
    spanish_help(*check);
    check->add_flag("--json", json, json_help);
    check->add_flag("-q,--quiet", quiet, quiet_help);
    check->add_option("ARCHIVO", file, "Base de datos (.mdb o .accdb)")->required()->type_name("");

    auto* repair = app.add_subcommand("repair", "Repara la base de datos en su sitio");
    repair->group("Subórdenes");
    spanish_help(*repair);
    repair->add_flag("--json", json, json_help);
    repair->add_flag("-q,--quiet", quiet, quiet_help);
    repair->add_option("ARCHIVO", file, "Base de datos (.mdb o .accdb)")->required()->type_name("");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::cerr << "jetrepair: argumentos no válidos: " << spanish_usage_error(e) << ".\n"
                  << "Use «jetrepair --help» para ver el modo de empleo.\n";
        return kExitUsage;
    }

    jet::remove_unfinished_repair_on_signal(
        "\njetrepair: reparación interrumpida. Se han borrado la copia de trabajo y los archivos a medio "
        "escribir; la base de datos no se ha modificado.\n");
    const std::filesystem::path path = path_from_argument(file);
    if (dump->parsed()) return run_dump(path, table);
    TerminalProgress progress(!quiet);
    if (check->parsed()) return run_check(path, json, progress);
    return run_repair(path, json, progress);
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
    Utf8Console console;
    std::vector<std::string> arguments = utf8_arguments(argc, argv);
    std::vector<char*> pointers;
    for (auto& a : arguments) pointers.push_back(a.data());
    pointers.push_back(nullptr);
    return run(argc, pointers.data());
}
#else
int main(int argc, char** argv) { return run(argc, argv); }
#endif
