// Which fix answers which problem: the problem table says (jet/problems.cpp). A problem
// without a fix blocks the repair (with a Spanish list of what cannot be repaired) unless
// the finding is tolerated.
#include "jet/problems.h"
#include "jet/repair.h"

namespace jet {

FixFunction fix_for(Problem problem) { return problem_info(problem).fixed_by; }

FixFunction fix_for(std::string_view code) {
    const ProblemInfo* info = find_problem(code);
    return info ? info->fixed_by : nullptr;
}

bool fix_keeps_pages(Problem problem) { return problem_info(problem).keeps_pages; }

bool tolerated(const Finding& finding) { return finding.severity == Severity::Info; }

}  // namespace jet
