#include "study/script_files.hpp"

#include <algorithm>
#include <fstream>

#include "core/words.hpp"
#include "study/plan.hpp"
#include "study/study.hpp"

namespace umbrascope::study {

namespace fs = std::filesystem;

namespace {

std::string and_more(const std::vector<std::string>& names) { return first_names(names, 3); }

}  // namespace

// The first few kilobytes of a file.
std::string head_of(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::string head(4096, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(in.gcount()));
    return head;
}

// The text with every `from` made `to`, in one pass.
std::string replaced(const std::string& text, std::string_view from, const std::string& to)
{
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    std::size_t done = 0;
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, done)) {
        out.append(text, done, at - done);
        out += to;
        done = at + from.size();
    }
    out.append(text, done, std::string::npos);
    return out;
}

void commit_all(std::vector<OutputFile>& files)
{
    for (OutputFile& file : files)
        file.finish();
    for (OutputFile& file : files)
        file.commit();
}

// Refuses a results folder that does not hold the whole of one run of the script now in the
// folder, saying whose exports it holds instead and what to run.
void refuse_unless_whole(const ResultsFolder& results, const std::string& run, const std::string& circuit,
                         const fs::path& folder, bool given)
{
    if (results.named(end_marker_name(run)))
        return;
    const std::string compile = "run it in OpenDSS (compile \"" + (folder / script_name).string() + "\"), then read again";
    const std::string where = results.folder().string();
    // The engine stops in a settle whose controls never come to rest ("Max Control Iterations
    // Exceeded"): nothing after it was exported.
    const bool began = results.named(begin_marker_name(run)).has_value();
    const auto stopped_in = [&](const char* which, const std::string& before) {
        return StudyError(where + ": the engine stopped in the settle " + which + ", before it exported " + before +
                          ": OpenDSS stops there when the regulators and capacitors do not come to rest (its \"Max "
                          "Control Iterations Exceeded\"). Look at their settings (umbrascope-study write names a "
                          "regulator that cannot regulate as given), or raise the circuit's Set MaxControlIter, then "
                          "write the study again and run it");
    };
    if (began && !results.named(settle_summary_name(run, false)))
        throw stopped_in("at the first row's sky", "anything");
    // The sky's series ran and was exported (its head's monitor last but the PV systems'), and the
    // twin's settle never ended.
    if (began && !results.named(end_marker_name(run)) && results.monitor(run + "_head") &&
        !results.named(settle_summary_name(run, true)))
        throw stopped_in("of the clear-sky twin", "the twin's series");
    if (std::find(results.runs().begin(), results.runs().end(), run) != results.runs().end())
        throw StudyError(where + " holds some of the exports of the study now in " + folder.string() +
                         " but not its last, " + end_marker_name(run) +
                         ": its run in OpenDSS stopped before the end (or failed); " + compile);
    // Exports of other circuits alone: the wrong folder, whatever their runs.
    const std::string own = lower(circuit);
    std::vector<std::string> others;
    for (const std::string& name : results.circuits())
        if (name != own)
            others.push_back(name);
    const bool any_own = std::find(results.circuits().begin(), results.circuits().end(), own) != results.circuits().end();
    if (!circuit.empty() && !others.empty() && !any_own)
        throw StudyError(where + " holds the exports of another circuit (" + and_more(others) + "), not of " + circuit +
                         ", which " + folder.string() + "'s network was imported from: " +
                         (given ? "check the folder given with --results, or " : std::string()) + compile);
    const std::string sky = run.substr(0, 14);  // "study_" and the sky's part
    std::vector<std::string> same_sky, other_sky;
    for (const std::string& other : results.runs())
        (other.substr(0, 14) == sky ? same_sky : other_sky).push_back(other);
    if (!same_sky.empty())
        throw StudyError(where + " holds the exports of another study of this sky (" + and_more(same_sky) +
                         "): a study.dss written again since, or one of another folder, not the " +
                         (folder / script_name).string() + " now there (" + run + "); " + compile);
    if (!other_sky.empty())
        throw StudyError(where + " holds the exports of a study of an earlier sky (" + and_more(other_sky) +
                         "), not of the sky " + folder.string() + " holds now, for which its study.dss was written: " +
                         compile);
    if (results.older_study())
        throw StudyError(where + " holds the exports of a study written by an earlier umbrascope-study, whose exports "
                         "name no run: write the study again (umbrascope-study write " + folder.string() +
                         " --loadshapes SHAPES), then " + compile);
    throw StudyError(where + " holds no exports of the study: " + compile +
                     " (where OpenDSS ran it and stopped with an error in the circuit, the error it printed says "
                     "what to mend)");
}

std::string first_names(const std::vector<std::string>& names, std::size_t shown)
{
    std::string text;
    const std::size_t n = std::min(names.size(), shown);
    for (std::size_t i = 0; i < n; ++i)
        text += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
    if (names.size() > n)
        text += " and " + std::to_string(names.size() - n) + " more";
    return text;
}

}  // namespace umbrascope::study
