#include "sweep/search.hpp"

#include <algorithm>
#include <cmath>

namespace umbrascope::sweep {

int SizeGrid::steps() const
{
    if (!(max_kw > 0) || !(resolution_kw > 0))
        return 0;
    // A maximum a whole number of resolutions is that many steps, whatever the rounding.
    return std::max(1, static_cast<int>(std::ceil(max_kw / resolution_kw - 1e-9)));
}

double SizeGrid::kw(int step) const
{
    if (step <= 0)
        return 0;
    return step >= steps() ? max_kw : step * resolution_kw;
}

std::optional<int> SizeGrid::step_of(double size) const
{
    const int n = steps();
    for (const int step : {static_cast<int>(std::floor(size / resolution_kw)), static_cast<int>(std::ceil(size / resolution_kw))})
        if (step >= 1 && step <= n && std::fabs(kw(step) - size) < 0.0005)
            return step;
    return std::nullopt;
}

std::vector<int> first_steps(const SizeGrid& grid)
{
    const int n = grid.steps();
    std::vector<int> out;
    for (const int quarter : {1, 2, 3, 4}) {
        const int step = std::max(1, (n * quarter + 2) / 4);
        if (out.empty() || out.back() != step)
            out.push_back(step);
    }
    return out;
}

Bracket bracket(const SizeGrid& grid, const std::map<int, bool>& judged, const std::vector<int>& pending)
{
    const int n = grid.steps();
    Bracket out;
    for (const auto& [step, passes] : judged)
        if (!passes) {
            out.fails = step;
            break;
        }
    for (const auto& [step, passes] : judged) {
        if (!passes)
            continue;
        if (out.fails && step > *out.fails)
            out.contrary = true;
        else
            out.passes = std::max(out.passes, step);
    }
    const int above = out.fails.value_or(n + 1);
    out.found = above == out.passes + 1;
    if (out.found)
        return out;
    // A step planned inside the bracket says more than any other: it is awaited.
    if (std::any_of(pending.begin(), pending.end(), [&](int step) { return step > out.passes && step < above; })) {
        out.waiting = true;
        return out;
    }
    if (judged.empty())
        out.next = first_steps(grid);
    else
        out.next = {out.passes + (above - out.passes) / 2};
    return out;
}

}  // namespace umbrascope::sweep
