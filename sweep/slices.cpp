#include "sweep/slices.hpp"

#include <algorithm>
#include <system_error>

#include "core/words.hpp"
#include "output/output_file.hpp"
#include "study/plan.hpp"
#include "study/slices.hpp"
#include "study/study.hpp"
#include "sweep/cases.hpp"

namespace umbrascope::sweep {

namespace fs = std::filesystem;

void adopt_slices(const fs::path& folder, const fs::path& shapes)
{
    std::optional<study::Slicing> slicing;
    try {
        slicing = study::read_slicing(folder);
    } catch (const study::StudyError& failure) {
        throw SweepError(failure.what());
    }
    if (!slicing)
        throw SweepError(folder.string() + " holds no slices: write the study with --slices N");
    const fs::path sweep = folder / study::slices_folder_name;
    const int count = static_cast<int>(slicing->slices.size());
    std::vector<Case> cases;
    const std::string sky = folder.filename().string();
    for (const study::Slice& slice : slicing->slices) {
        Case c;
        c.id = study::slice_name(slice.number, count);
        c.placement = "slice";
        c.seed = slice.number;
        c.sky = sky;
        const fs::path at = case_folder(sweep, c.id);
        const std::optional<std::string> print = case_files_fingerprint(at);
        if (!print)
            throw SweepError(at.string() + " lacks the slice's script: write the study again with --slices");
        // A slice run for another script runs again.
        std::optional<Status> status;
        try {
            status = read_status(at);
        } catch (const SweepError&) {
        }
        std::error_code error;
        if (status && status->files != *print)
            fs::remove(at / status_name, error);
        write_whole(at / case_record_name, "case = " + c.id + "\nfiles = " + *print + "\n", false);
        cases.push_back(c);
    }
    write_whole(sweep / record_name,
                "# The slices of the study in " + folder.string() + ", which umbrascope-study write --slices wrote.\n"
                "slices_of = " + folder.string() + "\n"
                "command = umbrascope-study write " + folder.string() + " --loadshapes " + shapes.string() +
                    " --slices " + std::to_string(count) + " --overlap " + decimal_text(slicing->overlap_s, 6) + "\n");
    write_whole(sweep / skies_name, skies_text({Sky{sky, folder, shapes}}));
    write_whole(sweep / cases_name, cases_text(cases));
}

std::optional<fs::path> slices_sweep(const fs::path& folder)
{
    std::error_code error;
    const fs::path sweep = folder / study::slices_folder_name;
    if (fs::exists(folder / cases_name, error) || !fs::exists(sweep / cases_name, error))
        return std::nullopt;
    return sweep;
}

HandOnRound hand_on_round(const fs::path& folder)
{
    std::optional<study::Slicing> slicing;
    std::vector<study::ControlWatch> watches;
    try {
        slicing = study::read_slicing(folder);
        watches = study::read_controls_map(folder / study::controls_map_name);
    } catch (const study::StudyError& failure) {
        throw SweepError(failure.what());
    }
    if (!slicing)
        throw SweepError(folder.string() + " holds no slices: write the study with --slices N");
    const std::vector<Sky> skies = read_skies(folder / study::slices_folder_name);
    if (skies.size() != 1)
        throw SweepError((folder / study::slices_folder_name / skies_name).string() +
                         " is not of one study: write the study again with --slices");
    study::WriteOptions options{folder, skies.front().shapes,
                                std::any_of(watches.begin(), watches.end(),
                                            [](const study::ControlWatch& w) { return !w.clear_monitor.empty(); })};
    options.slices = static_cast<int>(slicing->slices.size());
    options.overlap = slicing->overlap_s;
    options.hand_on = true;
    study::WriteResult written;
    try {
        written = study::write_study(options);
    } catch (const study::StudyError& failure) {
        throw SweepError(failure.what());
    } catch (const WriteError& failure) {
        throw SweepError(failure.what());
    }
    adopt_slices(folder, skies.front().shapes);
    return {written.handed_anew, written.unfollowed};
}

}  // namespace umbrascope::sweep
