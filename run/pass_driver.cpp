#include "run/pass_driver.hpp"

#include "clouds/cloud_track.hpp"
#include "clouds/sun_table.hpp"
#include "network/network_file.hpp"
#include "network/plot_geometry.hpp"
#include "render/draw_network.hpp"

namespace umbrascope {

void run_pass(Pass& pass)
{
    RunState& st = pass.st;
    st.num_pass = sum(st.num_pass, 1, "the pass counter num_pass");
    pass.controls.set_pass_text(integer_text(st.num_pass));

    if (st.num_pass <= 1) {
        read_network_file(pass);
        compute_plot_geometry(pass);
        read_sun_table(pass);
        read_cloud_parameters(pass);
    }
    draw_row(pass);
}

void draw_row(Pass& pass)
{
    RunState& st = pass.st;
    clear_plot_frame(pass);
    draw_step_clouds(pass);
    draw_network(pass);

    st.i_time = sum(st.i_time, 1, "the time row i_time");
    pass.controls.set_timer_enabled(true);
    if (st.i_time > st.n_time) {
        pass.controls.set_timer_enabled(false);
        pass.input.close();
    }
}

HeadlessResult run_headless(Pass& pass, const RecordingControls& controls, Trace& trace,
                            const HeadlessOptions& options, const HeadlessEvents& events)
{
    HeadlessResult result;
    for (;;) {
        ++result.passes;
        trace.pass(result.passes, result.passes > 1);
        bool failed = false;
        try {
            run_pass(pass);
        } catch (const PassError& error) {  // the event edge
            failed = true;
            ++result.failures;
            trace.error(error);
            if (events.on_error)
                events.on_error(error);
        }
        if (events.after_pass)
            events.after_pass(result.passes);
        if (!controls.timer_enabled || result.passes >= options.max_passes || (failed && !options.keep_going))
            return result;
    }
}

}  // namespace umbrascope
