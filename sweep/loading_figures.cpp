#include "sweep/loading_figures.hpp"

#include <fstream>
#include <sstream>

#include "core/csv.hpp"
#include "core/lines.hpp"
#include "core/words.hpp"
#include "sweep/cases.hpp"

namespace umbrascope::sweep {

namespace fs = std::filesystem;

LoadingReport read_loading_report(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw SweepError("there is no " + path.string() +
                         ": the case ran before the study recorded its lines' and transformers' loading; plan the "
                         "sweep again and run it");
    std::ostringstream bytes;
    bytes << in.rdbuf();
    LoadingReport out;
    each_line(bytes.str(), [&](std::string_view line, long number) {
        if (line.empty())
            return;
        const std::optional<std::vector<std::string>> cells = csv_fields(line);
        if (number == 1) {
            if (!cells || cells->size() != 15 || (*cells)[0] != "sky" || (*cells)[8] != "max_pct_normal" ||
                (*cells)[13] != "window_pct_normal")
                throw SweepError(path.string() + " is not a loading report of this umbrascope-study: run the case again");
            return;
        }
        const auto number_at = [&](std::size_t k) { return number_of((*cells)[k]); };
        if (!cells || cells->size() != 15 || ((*cells)[0] != "sky" && (*cells)[0] != "clear") || !number_at(5) ||
            !number_at(6) || !number_at(8) || !number_at(9) || !number_at(11) || !number_at(12) || !number_at(13) ||
            !number_at(14))
            throw SweepError(path.string() + ":" + std::to_string(number) + ": not a line of a loading report");
        const std::vector<std::string>& c = *cells;
        ElementLoading element;
        element.normal_a = *number_at(5);
        element.emergency_a = *number_at(6);
        element.rated = c[7] == "circuit";
        element.max_pct = *number_at(8);
        element.max_row = static_cast<int>(*number_at(9));
        element.s_over_normal = *number_at(11);
        element.s_over_emergency = *number_at(12);
        element.window_pct = *number_at(13);
        element.window_row = static_cast<int>(*number_at(14));
        (c[0] == "sky" ? out.sky : out.clear)[c[1]] = element;
    });
    return out;
}

LoadingFigures loading_figures(const std::map<std::string, ElementLoading>& own,
                               const std::map<std::string, ElementLoading>* base, const Criteria& criteria)
{
    LoadingFigures out;
    // The feeder's own overload, made worse by more than this, fails.
    constexpr double worse = 1;
    const auto keep_worst = [](std::optional<Excess>& worst, const std::string& element, double value, int row) {
        if (!worst || value > worst->value)
            worst = Excess{element, value, row};
    };
    for (const auto& [name, e] : own) {
        if (!e.rated && !criteria.judge_default_ratings) {
            if (e.max_pct > 100) {
                ++out.unrated_over;
                keep_worst(out.unrated_most, name, e.max_pct, e.max_row);
            }
            continue;
        }
        const ElementLoading* before = nullptr;
        if (base != nullptr)
            if (const auto found = base->find(name); found != base->end())
                before = &found->second;
        const bool over_before = before != nullptr && (before->max_pct > 100 || before->s_over_emergency > 0);
        if (!over_before) {
            if (!out.max_pct || e.max_pct > *out.max_pct) {
                out.max_pct = e.max_pct;
                out.element = name;
                out.s_over = e.s_over_normal;
            }
            if (!out.window_pct || e.window_pct > *out.window_pct)
                out.window_pct = e.window_pct;
            out.emergency_s_over = std::max(out.emergency_s_over, e.s_over_emergency);
        }
        // Against its limit, or against the base where it was over a rating already.
        if (criteria.max_loading_pct) {
            const double bar = before != nullptr && before->window_pct > *criteria.max_loading_pct
                                   ? before->window_pct + worse
                                   : *criteria.max_loading_pct;
            if (e.window_pct > bar)
                keep_worst(out.over_normal, name, e.window_pct, e.window_row);
        }
        if (criteria.max_emergency_pct) {
            const double bar = before != nullptr && before->emergency_pct() > *criteria.max_emergency_pct
                                   ? before->emergency_pct() + worse
                                   : *criteria.max_emergency_pct;
            if (e.emergency_pct() > bar)
                keep_worst(out.over_emergency, name, e.emergency_pct(), e.max_row);
        }
    }
    return out;
}

}  // namespace umbrascope::sweep
