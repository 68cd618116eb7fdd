#include "check.h"

#include <cstdio>
#include <exception>
#include <vector>

namespace check {

namespace {

struct Case {
    const char* name;
    std::function<void()> body;
};

std::vector<Case>& cases() {
    static std::vector<Case> all;
    return all;
}

int current_failures = 0;
bool current_skipped = false;

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

void register_case(const char* name, std::function<void()> body) { cases().push_back({name, std::move(body)}); }

void fail(const char* file, int line, const std::string& message) {
    ++current_failures;
    std::printf("    %s:%d: %s\n", file, line, message.c_str());
    std::fflush(stdout);
}

void skip(const std::string& reason) {
    current_skipped = true;
    std::printf("    SKIPPED: %s\n", reason.c_str());
    throw Stop{};
}

std::string printable(std::wstring_view text) {
    std::string out = "\"";
    for (wchar_t c : text) append_utf8(out, static_cast<char32_t>(c));
    return out + "\"";
}

std::string printable(std::u16string_view text) {
    return printable(std::wstring_view(reinterpret_cast<const wchar_t*>(text.data()), text.size()));
}

namespace {
// The filter is a list of alternatives separated by '|'; empty selects everything.
bool selected(std::string_view name, std::string_view filter) {
    if (filter.empty()) return true;
    while (true) {
        const auto bar = filter.find('|');
        if (name.find(filter.substr(0, bar)) != std::string_view::npos) return true;
        if (bar == std::string_view::npos) return false;
        filter.remove_prefix(bar + 1);
    }
}
}  // namespace

int run_all(std::string_view filter) {
    int failed = 0, passed = 0, skipped = 0;
    for (auto& c : cases()) {
        if (!selected(c.name, filter)) continue;
        current_failures = 0;
        current_skipped = false;
        std::printf("[ RUN  ] %s\n", c.name);
        std::fflush(stdout);
        try {
            c.body();
        } catch (const Stop&) {
        } catch (const std::exception& e) {
            fail(__FILE__, __LINE__, std::string("exception: ") + e.what());
        } catch (...) {
            fail(__FILE__, __LINE__, "unknown exception");
        }
        const char* verdict = current_failures ? "[ FAIL ]" : current_skipped ? "[ SKIP ]" : "[  OK  ]";
        std::printf("%s %s\n", verdict, c.name);
        std::fflush(stdout);
        (current_failures ? failed : current_skipped ? skipped : passed)++;
    }
    std::printf("%d passed, %d skipped, %d failed\n", passed, skipped, failed);
    std::fflush(stdout);
    return failed == 0 ? 0 : 1;
}

}  // namespace check
