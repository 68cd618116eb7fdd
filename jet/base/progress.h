#pragma once
// How far a long check or repair has got, for whoever shows it (a terminal line, a bar):
// the step it is in and the pages of the file that step has done. A step's work may run on
// several threads; the receiver is called from one of them at a time, in no fixed order
// between steps' calls and the work, so it must only store and show.
#include <cstdint>
#include <string_view>

namespace jet {

class Progress {
public:
    virtual ~Progress() = default;
    // A step starts; `pages` is its work in pages of the file (0: no measure).
    virtual void step(std::string_view name, std::uint64_t pages) = 0;
    // Pages of the current step done so far (never decreasing within a step).
    virtual void advance(std::uint64_t pages_done) = 0;
};

}  // namespace jet
