#pragma once
// A minimal test harness for the programs that run under wine (GoogleTest needs
// std::mutex, which the win32-threads mingw runtime lacks). Cases register
// themselves; a failed CHECK records a message and the case goes on; REQUIRE stops it.
#include <functional>
#include <sstream>
#include <string>
#include <string_view>

namespace check {

struct Stop {};  // thrown by REQUIRE and skip() to end the current case

void register_case(const char* name, std::function<void()> body);
void fail(const char* file, int line, const std::string& message);
[[noreturn]] void skip(const std::string& reason);
// Runs every case whose name contains one of filter's '|'-separated parts (all when empty);
// returns the process exit code.
int run_all(std::string_view filter);

// Printable UTF-8 copy of wide or UTF-16 text, for failure messages.
std::string printable(std::wstring_view text);
std::string printable(std::u16string_view text);

template <class A, class B>
std::string describe(const A& a, const B& b) {
    std::ostringstream out;
    if constexpr (requires { out << a; }) out << a; else out << printable(a);
    out << " vs ";
    if constexpr (requires { out << b; }) out << b; else out << printable(b);
    return out.str();
}

struct Registrar {
    Registrar(const char* name, std::function<void()> body) { register_case(name, std::move(body)); }
};

}  // namespace check

#define CHECK_CASE_JOIN2(a, b) a##b
#define CHECK_CASE_JOIN(a, b) CHECK_CASE_JOIN2(a, b)
#define TEST_CASE(name)                                                                        \
    static void CHECK_CASE_JOIN(case_, __LINE__)();                                            \
    static const check::Registrar CHECK_CASE_JOIN(registrar_, __LINE__)(name, CHECK_CASE_JOIN(case_, __LINE__)); \
    static void CHECK_CASE_JOIN(case_, __LINE__)()

#define CHECK(condition) \
    do { if (!(condition)) check::fail(__FILE__, __LINE__, #condition); } while (0)
#define CHECK_EQ(a, b)                                                                          \
    do {                                                                                        \
        const auto& check_a_ = (a);                                                             \
        const auto& check_b_ = (b);                                                             \
        if (!(check_a_ == check_b_))                                                            \
            check::fail(__FILE__, __LINE__, std::string(#a " == " #b ": ") + check::describe(check_a_, check_b_)); \
    } while (0)
#define REQUIRE(condition)                                                         \
    do {                                                                           \
        if (!(condition)) {                                                        \
            check::fail(__FILE__, __LINE__, "required: " #condition);              \
            throw check::Stop{};                                                   \
        }                                                                          \
    } while (0)
