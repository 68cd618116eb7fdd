#include "terminal_progress.h"

#include <algorithm>
#include <cstdio>
#include <iostream>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

constexpr auto kQuietStart = std::chrono::seconds(1);
constexpr auto kRedrawEvery = std::chrono::milliseconds(100);

// Characters on screen: UTF-8 continuation bytes take no column.
std::size_t columns(const std::string& text) {
    std::size_t n = 0;
    for (unsigned char c : text) n += (c & 0xC0) != 0x80;
    return n;
}

}  // namespace

bool TerminalProgress::stderr_is_terminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(fileno(stderr)) != 0;
#endif
}

TerminalProgress::TerminalProgress(bool wanted) : enabled_(wanted && stderr_is_terminal()) {}

TerminalProgress::~TerminalProgress() { end(); }

void TerminalProgress::end() {
    clear();
    ended_ = true;
}

void TerminalProgress::step(std::string_view name, std::uint64_t pages) {
    if (!enabled_) return;
    step_ = name;
    pages_ = pages;
    done_ = 0;
    show(true);
}

void TerminalProgress::advance(std::uint64_t pages_done) {
    if (!enabled_) return;
    done_ = pages_done;
    show(false);
}

void TerminalProgress::show(bool now) {
    const Clock::time_point t = Clock::now();
    if (ended_ || t - start_ < kQuietStart) return;
    if (!now && width_ > 0 && t - shown_at_ < kRedrawEvery) return;
    shown_at_ = t;
    std::string line = step_;
    if (pages_ > 0) {
        const std::uint64_t done = std::min(done_, pages_);
        line += ": " + std::to_string(done) + " de " + std::to_string(pages_) + " páginas (" +
                std::to_string(done * 100 / pages_) + " %)";
    } else {
        line += "...";
    }
    const std::size_t width = columns(line);
    // Blanks over what is left of a longer previous line.
    std::cerr << '\r' << line << std::string(width_ > width ? width_ - width : 0, ' ') << std::flush;
    width_ = width;
}

void TerminalProgress::clear() {
    if (width_ == 0) return;
    std::cerr << '\r' << std::string(width_, ' ') << '\r' << std::flush;
    width_ = 0;
}
