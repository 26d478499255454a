#include "sweep/inputs.hpp"

#include <algorithm>

#include "core/fingerprint.hpp"
#include "import/circuit.hpp"
#include "import/source_files.hpp"
#include "study/folder.hpp"
#include "sweep/worker.hpp"

namespace umbrascope::sweep {

namespace fs = std::filesystem;

CircuitPrints circuit_prints(const fs::path& entry)
{
    import::FingerprintedFiles files;
    try {
        (void)import::read_circuit(entry, files);
    } catch (const import::ImportError& failure) {
        throw SweepError(failure.what());
    }
    return {files.text(), files.files()};
}

void fingerprint_sky(Sky& sky)
{
    try {
        sky.fingerprint = study::read_sky(sky.folder).fingerprint;
    } catch (const study::StudyError& failure) {
        throw SweepError(failure.what());
    }
    const std::optional<std::string> shapes = file_fingerprint(sky.shapes);
    if (!shapes)
        throw SweepError("cannot read the sky's loadshapes " + sky.shapes.string());
    sky.shapes_fingerprint = *shapes;
}

std::string sky_change(const Sky& before, const Sky& now)
{
    if (before.fingerprint != now.fingerprint)
        return "its sun table " + (now.folder / "cloud_sun_intensity_table.txt").string() + " was made again";
    if (before.shapes_fingerprint != now.shapes_fingerprint)
        return "its loadshapes " + now.shapes.string() + " were made again or edited";
    return {};
}

std::string circuit_change(const Record& record, const CircuitPrints& now)
{
    // The same files with the same bytes are the same circuit, however they were found.
    if (record.circuit_fingerprint == now.all || record.circuit_files == now.files)
        return {};
    const auto read_in = [](const std::vector<std::pair<fs::path, std::string>>& files, const fs::path& path) {
        return std::find_if(files.begin(), files.end(), [&](const auto& file) { return file.first == path; });
    };
    for (const auto& file : now.files) {
        const auto before = read_in(record.circuit_files, file.first);
        if (before == record.circuit_files.end())
            return file.first.string() + " is read now, and was not then";
        if (before->second != file.second)
            return file.first.string() + " was edited";
    }
    for (const auto& file : record.circuit_files)
        if (read_in(now.files, file.first) == now.files.end())
            return file.first.string() + " is no longer read";
    return "its files are read in another order";
}

void refuse_changed_inputs(const fs::path& sweep)
{
    if (const std::optional<std::string> text = whole_file(sweep / record_name); text && value_of(*text, "slices_of"))
        return;
    const Record record = read_record(sweep);
    const std::string again = ": plan it again, " + plan_command(sweep) + " (its stale cases are replaced)";
    std::vector<Sky> skies = read_skies(sweep);
    const bool unrecorded = record.circuit_fingerprint.empty() ||
                            std::any_of(skies.begin(), skies.end(), [](const Sky& s) { return s.fingerprint.empty(); });
    if (unrecorded)
        throw SweepError(sweep.string() + " was planned by an earlier umbrascope-study, which kept no fingerprint of "
                         "its circuit and skies to tell whether they changed since" + again);
    std::error_code error;
    if (!fs::is_regular_file(record.circuit, error))
        throw SweepError("the sweep's circuit " + record.circuit.string() + " is not there" + again);
    if (const std::string change = circuit_change(record, circuit_prints(record.circuit)); !change.empty())
        throw SweepError("the sweep's circuit has changed since " + sweep.string() + " was planned (" + change +
                         "): its cases would run the circuit as it is now against levels of its load as it was" + again);
    for (const Sky& planned : skies) {
        Sky now = planned;
        try {
            fingerprint_sky(now);
        } catch (const SweepError& failure) {
            throw SweepError("the sky " + planned.name + " of " + sweep.string() + " cannot be read now (" +
                             failure.what() + ")" + again);
        }
        if (const std::string change = sky_change(planned, now); !change.empty()) {
            std::string text = "the sky " + planned.folder.string() + " has changed since " + sweep.string();
            text += " was planned (" + change + "): its cases were written for the sky as it was";
            text += again;
            throw SweepError(text);
        }
    }
}

}  // namespace umbrascope::sweep
