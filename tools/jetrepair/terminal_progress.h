#pragma once
// The progress of a long check or repair on one line of standard error, rewritten in place:
// only while standard error is a terminal, only once the work has taken about a second
// (short runs stay silent), and cleared when the command ends so its own output follows.
// The engine calls a receiver from one thread at a time, so it needs no lock of its own.
#include <chrono>
#include <cstdint>
#include <string>

#include "jet/engine.h"

class TerminalProgress : public jet::Progress {
public:
    // `wanted`: false for --quiet; nothing is shown either when stderr is not a terminal.
    explicit TerminalProgress(bool wanted);
    ~TerminalProgress() override;
    TerminalProgress(const TerminalProgress&) = delete;
    TerminalProgress& operator=(const TerminalProgress&) = delete;

    void step(std::string_view name, std::uint64_t pages) override;
    void advance(std::uint64_t pages_done) override;

    // Clears the line; nothing more is shown (the command's own output follows).
    void end();

    // Whether standard error is a terminal.
    static bool stderr_is_terminal();

private:
    void show(bool now);
    void clear();

    using Clock = std::chrono::steady_clock;
    const bool enabled_;
    const Clock::time_point start_ = Clock::now();
    Clock::time_point shown_at_{};
    std::string step_;
    std::uint64_t pages_ = 0, done_ = 0;
    std::size_t width_ = 0;  // of the line on screen, 0 when none
    bool ended_ = false;
};
