// A whole run: the bytes split at NUL bytes into the network file, the sun table and the track
// file (a missing part means a missing file), then the first pass and up to five further passes
// as the exporter drives them. Checks the failure rules after every pass.

#include "run/pass_driver.hpp"
#include "fuzz/harness.hpp"

using namespace umbrascope;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const bool large = fuzz::take_large_mode(data, size);
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string_view names[] = {network_file_name, sun_table_file_name, track_file_name};
    std::size_t start = 0;
    for (const std::string_view name : names) {
        if (start > bytes.size()) {
            fuzz::remove_input(name);
            continue;
        }
        const std::size_t end = std::min(bytes.find('\0', start), bytes.size());
        fuzz::write_input(name, bytes.substr(start, end - start));
        start = end + 1;
    }

    fuzz::World world(large);
    RunState& st = *world.st;
    HeadlessOptions options;
    options.max_passes = 6;
    options.keep_going = true;

    // What each pass may change: a failed pass leaves i_time and the timer as they were.
    Integer i_time_before = st.i_time;
    bool timer_before = world.controls.timer_enabled;
    bool failed = false;
    int reports = 0;
    HeadlessEvents events;
    events.on_error = [&](const PassError& error) {
        fuzz::require_known_kind(error);
        failed = true;
        ++reports;
    };
    events.after_pass = [&](int ordinal) {
        fuzz::require(st.num_pass == ordinal);
        if (failed && ordinal > 1) {
            fuzz::require(st.i_time == i_time_before);
            fuzz::require(world.controls.timer_enabled == timer_before);
        } else if (!failed) {
            fuzz::require(ordinal == 1 ? st.i_time == 2 : st.i_time.value() == i_time_before.value() + 1);
            fuzz::require(world.controls.timer_enabled == (st.i_time <= st.n_time));
            fuzz::require(world.raster.line_style() == LineStyle::solid);
        }
        i_time_before = st.i_time;
        timer_before = world.controls.timer_enabled;
        failed = false;
    };
    const HeadlessResult result = run_headless(world.pass, world.controls, world.trace, options, events);
    fuzz::require(reports == result.failures && result.passes >= 1 && result.passes <= 6);

    // One error line in the trace per failed pass.
    int error_lines = 0;
    const std::string trace = "\n" + world.out.str();
    for (std::size_t at = trace.find("\nerror\t"); at != std::string::npos; at = trace.find("\nerror\t", at + 1))
        ++error_lines;
    fuzz::require(error_lines == result.failures);
    return 0;
}
