// The track file, its parameter line and its records, on any bytes, over a fixed small network:
// the first pass and up to five ticks. The trace's text is left to the whole-run target.

#include "run/pass_driver.hpp"
#include "fuzz/harness.hpp"

using namespace umbrascope;

namespace {

const bool inputs_written = [] {
    fuzz::write_input(network_file_name, "bus_coordinates\n1,A,0,0\n2,B,3,1\n3,C,1.5,2\nbus_connections\n1,2\n2,3\n3,1\n");
    fuzz::write_input(sun_table_file_name, "h\nh\nh\nh\nh\nh\n1,1,0.5,0.1\n2,0.5,0.1,1\n3,0.1,1,0.5\n4,1,1,1\n5,0,0,0\n6,1,0,1\n");
    return true;
}();

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const bool large = fuzz::take_large_mode(data, size);
    (void)inputs_written;
    fuzz::write_input(track_file_name, {reinterpret_cast<const char*>(data), size});
    fuzz::World world(large, false);
    HeadlessOptions options;
    options.max_passes = 6;
    options.keep_going = true;
    int reports = 0;
    const HeadlessResult result = run_headless(world.pass, world.controls, world.trace, options,
                                               {{}, [&](const PassError& error) {
                                                    fuzz::require_known_kind(error);
                                                    ++reports;
                                                }});
    fuzz::require(reports == result.failures && result.passes <= 6);
    fuzz::require(world.st->num_pass == result.passes);
    fuzz::require(world.raster.line_style() == LineStyle::solid || result.failures > 0);
    return 0;
}
