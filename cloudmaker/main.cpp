// umbrascope-clouds: a cloud scenario for any network: a cloud track and the sun table under it,
// from drifting clouds, an existing track, or a measured sky carried over the feeder by the wind.

#include <cstdio>

#include "cli/command_line.hpp"
#include "model/study_files.hpp"
#include "output/output_file.hpp"
#include "scenario/command.hpp"

int main(int argc, char* argv[])
{
    using namespace umbrascope;
    using namespace umbrascope::scenario;
    CommandLine line("umbrascope-clouds", argc, argv, clouds_usage);
    const CloudsOptions options = parse_clouds_options(line);
    Scenario scenario;
    Written written;
    try {
        scenario = make_scenario(options);
        written = write_scenario(options, scenario);
    } catch (const ScenarioError& error) {
        line.fail(error.what());
    } catch (const WriteError& error) {
        line.fail(error.what());
    }
    for (const std::string& text : report(options, scenario, written))
        std::printf("%s\n", text.c_str());
    std::fflush(stdout);
    for (const std::string& text : scenario.warnings)
        std::fprintf(stderr, "umbrascope-clouds: warning: %s\n", text.c_str());
    if (!written.stale.empty())
        std::fprintf(stderr,
                     "umbrascope-clouds: warning: %s in %s %s of the sky before: write the study again "
                     "(umbrascope-study write %s --loadshapes SHAPES), run it in OpenDSS and read it; until then "
                     "pictures by voltage are refused there, and pages leave the voltages out\n",
                     joined_names(written.stale).c_str(), options.folder.string().c_str(),
                     written.stale.size() == 1 ? "is" : "are", options.folder.string().c_str());
    return 0;
}
