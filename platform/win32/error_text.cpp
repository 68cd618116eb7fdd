#include "platform/win32/error_text.h"

#include <cstdio>
#include <string_view>

#include "platform/win32/wide.h"

namespace platform::win32 {

namespace {

// Run-time codes of the scripting services (facility 0x0A), in Spanish.
std::u16string_view scripting_text(unsigned code) {
    switch (code) {
        case 5: return u"Argumento o llamada a procedimiento no válidos";
        case 6: return u"Desbordamiento";
        case 7: return u"Memoria insuficiente";
        case 9: return u"Subíndice fuera del intervalo";
        case 13: return u"No coinciden los tipos";
        case 52: return u"Nombre o número de archivo incorrecto";
        case 53: return u"No se ha encontrado el archivo";
        case 54: return u"Modo de archivo incorrecto";
        case 55: return u"El archivo ya está abierto";
        case 57: return u"Error de E/S en el dispositivo";
        case 58: return u"El archivo ya existe";
        case 61: return u"El disco está lleno";
        case 62: return u"Se ha leído más allá del final del archivo";
        case 67: return u"Hay demasiados archivos";
        case 68: return u"El dispositivo no está disponible";
        case 70: return u"Permiso denegado";
        case 71: return u"El disco no está preparado";
        case 74: return u"No se puede cambiar el nombre a otra unidad";
        case 75: return u"Error de acceso a la ruta o al archivo";
        case 76: return u"No se ha encontrado la ruta de acceso";
        case 424: return u"Se necesita un objeto";
        case 429: return u"El componente no puede crear el objeto";
        case 438: return u"El objeto no admite esta propiedad o método";
        default: return {};
    }
}

// Common COM and automation results, for systems that have no text for them (wine).
std::u16string_view automation_text(HRESULT result) {
    switch (result) {
        case E_FAIL: return u"Error no especificado";
        case E_OUTOFMEMORY: return u"Memoria insuficiente";
        case E_INVALIDARG: return u"Uno o más argumentos no son válidos";
        case E_NOINTERFACE: return u"No se admite esa interfaz";
        case E_ACCESSDENIED: return u"Acceso denegado";
        case CO_E_NOTINITIALIZED: return u"No se ha inicializado COM";
        case CO_E_CLASSSTRING: return u"Cadena de clase no válida";
        case REGDB_E_CLASSNOTREG: return u"Clase no registrada";
        case CLASS_E_NOAGGREGATION: return u"La clase no admite agregación";
        case DISP_E_UNKNOWNNAME: return u"Nombre desconocido";
        case DISP_E_MEMBERNOTFOUND: return u"No se encuentra el miembro";
        case DISP_E_BADPARAMCOUNT: return u"Número de parámetros no válido";
        case DISP_E_TYPEMISMATCH: return u"No coinciden los tipos";
        case DISP_E_PARAMNOTOPTIONAL: return u"Falta un parámetro obligatorio";
        default: return {};
    }
}

std::u16string trimmed(std::u16string text) {
    while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n' || text.back() == u' ')) text.pop_back();
    return text;
}

}  // namespace

std::u16string system_text(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
        0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::u16string text;
    if (length != 0 && buffer) text = trimmed(utf16(std::wstring_view(buffer, length)));
    if (buffer) LocalFree(buffer);
    return text;
}

std::u16string describe_result(HRESULT result) {
    auto text = system_text(static_cast<DWORD>(result));
    if (text.empty() && HRESULT_FACILITY(result) == FACILITY_WIN32) text = system_text(HRESULT_CODE(result));
    if (text.empty() && HRESULT_FACILITY(result) == FACILITY_CONTROL) text = scripting_text(HRESULT_CODE(result));
    if (text.empty()) text = automation_text(result);
    if (text.empty()) {
        char code[32];
        std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(result));
        text = u"Error inesperado " + utf16(std::wstring(code, code + std::char_traits<char>::length(code)));
    }
    return text;
}

std::u16string describe_exception(EXCEPINFO& info) {
    if (info.bstrDescription && SysStringLen(info.bstrDescription) > 0)
        return utf16(std::wstring_view(info.bstrDescription, SysStringLen(info.bstrDescription)));
    if (info.scode != 0) return describe_result(info.scode);
    // Old-style services give a 16-bit code instead of a result code.
    return describe_result(MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, info.wCode));
}

}  // namespace platform::win32
