#include "sweep/slices.hpp"

#include <system_error>

#include "core/words.hpp"
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

}  // namespace umbrascope::sweep
