#include "usage_error.h"

namespace {

// What the library's message lists after its first ": " (the arguments it did not expect,
// or the option named before it).
std::string after_colon(const std::string& text) {
    const auto at = text.find(": ");
    return at == std::string::npos ? std::string() : text.substr(at + 2);
}

std::string before_colon(const std::string& text) { return text.substr(0, text.find(':')); }

}  // namespace

std::string spanish_usage_error(const CLI::ParseError& error) {
    const std::string text = error.what();
    if (dynamic_cast<const CLI::RequiredError*>(&error)) {
        if (text.find("subcommand") != std::string::npos) return "falta la orden: check, repair o dump";
        if (text.find("ARCHIVO") != std::string::npos) return "falta el ARCHIVO de la base de datos";
        return "falta un argumento obligatorio";
    }
    if (dynamic_cast<const CLI::ExtrasError*>(&error)) {
        const std::string extra = after_colon(text);
        if (extra.empty()) return "sobran argumentos";
        return (extra.find(' ') == std::string::npos ? "no se esperaba «" : "no se esperaban «") + extra + "»";
    }
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&error)) return "falta el valor de la opción " + before_colon(text);
    return "no se entienden los argumentos";
}
