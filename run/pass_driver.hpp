#pragma once
// The pass: the unit of work of the whole system, started by a click or a tick. Toolkit-free, so
// the window, the exporter, the tests and the fuzz targets all run the same passes.

#include <functional>

#include "core/run_state.hpp"
#include "core/trace.hpp"

namespace umbrascope {

// One pass: counts it, shows the count, does the first-pass work when the count is 1, draws row
// i_time, advances it and drives Timer1. A failure anywhere throws PassError out of here, and
// nothing is rolled back.
void run_pass(Pass& pass);
// The part of every pass after the first-pass work: draws row i_time, advances it and drives Timer1.
void draw_row(Pass& pass);

struct HeadlessOptions {
    int max_passes = 32767;
    bool keep_going = false;  // carry on after a failed pass while the timer runs, as the window would
};

struct HeadlessEvents {
    std::function<void(int ordinal)> after_pass;            // the picture of pass `ordinal` is ready
    std::function<void(const PassError& error)> on_error;  // the one report of a failed pass
};

struct HeadlessResult {
    int passes = 0;
    int failures = 0;
};

// Runs pass 1 as a click and then, while Timer1 is enabled, further passes as ticks at once.
HeadlessResult run_headless(Pass& pass, const RecordingControls& controls, Trace& trace,
                            const HeadlessOptions& options, const HeadlessEvents& events);

}  // namespace umbrascope
