#pragma once
// What a run's page holds, gathered as the exporter runs the passes: each row's clouds as the
// passes drew them, and after the last, the network, each row's classes and sunlight, and the
// study's voltages, controls and measured sky where the folder has them.

#include <string>
#include <vector>

#include "core/run_state.hpp"
#include "model/sky_header.hpp"
#include "model/hosting_map.hpp"
#include "model/voltages.hpp"
#include "output/page_writer.hpp"
#include "render/picture.hpp"

namespace umbrascope {

class PageGatherer {
public:
    // The clouds of the picture a pass drew for `row` (from 1).
    void add_row(const Picture& picture, int row);
    // The page of the run as it stands. `voltages` and `controls` where the run has them and the
    // page shows them; `by_voltage` colours the discs by the voltage classes.
    [[nodiscard]] PageInput finish(const RunState& st, const SkyHeader& sky, const std::string& title,
                                   const RunVoltages* voltages, bool by_voltage, bool profile,
                                   const ControlsTable* controls, const SkyField* field);

private:
    std::vector<std::vector<float>> clouds_;
};

// The study's part of a page over all its rows: the voltages (the classes with `by_voltage`),
// the profile, the jumps, the controls and the measured sky's field. `finish` adds them; a page of
// a sky run a part at a time adds those of the whole sky once its rows are gathered.
void add_study(PageInput& in, const RunState& st, const RunVoltages* voltages, bool by_voltage, bool profile,
               const ControlsTable* controls, const SkyField* field);

// A search by bus's answers as the page's colouring: each bus's band of kW in every row, the bands
// as the legend's classes, and each bus's row of locational_hc.csv in what the page says of it.
void add_hosting(PageInput& in, const HostingMap& hosting);

// The rows of `rows` (a later part of the same sky, gathered without the study) after those of
// `into`: their times, classes, sunlight and clouds. Throws WriteError for another network's.
void append_rows(PageInput& into, PageInput&& rows);

}  // namespace umbrascope
