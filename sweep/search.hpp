#pragma once
// The search for the largest plant a bus can take: sizes on a grid of the resolution up to the
// maximum, a first round of a few sizes, then bisection of the bracket between the largest size
// that passes and the smallest that fails. Passing is taken to be monotone in size; where a larger
// size passed after a smaller one failed, the smaller failure holds and the search says so.

#include <map>
#include <optional>
#include <vector>

namespace umbrascope::sweep {

// Sizes k x resolution for k = 1 .. steps(), the last the maximum itself.
struct SizeGrid {
    double max_kw = 0;
    double resolution_kw = 0;

    [[nodiscard]] int steps() const;
    [[nodiscard]] double kw(int step) const;  // 0 for step 0, the bus without a plant
    // The step a planned size is, or nothing where it is off the grid.
    [[nodiscard]] std::optional<int> step_of(double size) const;
};

// The first round's steps: a quarter, a half, three quarters and the whole of the range.
[[nodiscard]] std::vector<int> first_steps(const SizeGrid& grid);

// What the cases of one bus under one sky say of one criterion's boundary (under the sky, or under
// the clear sky): each judged step passes or fails; `pending` holds the steps planned and not yet
// judged (not run, or failed to run).
struct Bracket {
    int passes = 0;                 // the largest step passing below the smallest failing (0: none)
    std::optional<int> fails;       // the smallest failing step
    bool found = false;             // fails == passes + 1, or passes is the last step
    bool contrary = false;          // a step above `fails` passed
    std::vector<int> next;          // the steps to run next, where not found: the first round, or the middle
    bool waiting = false;           // a step inside the bracket is planned and not judged: it is awaited
};

[[nodiscard]] Bracket bracket(const SizeGrid& grid, const std::map<int, bool>& judged, const std::vector<int>& pending);

}  // namespace umbrascope::sweep
