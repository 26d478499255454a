#include "scenario/network_buses.hpp"

#include "network/network_file.hpp"

namespace umbrascope::scenario {

namespace {

// The reader echoes what it reads; here nobody is looking.
class NoControls : public Controls {
public:
    void set_pass_text(TextView) override {}
    void append_item(ListBox, TextView) override {}
    void set_timer_enabled(bool) override {}
    [[nodiscard]] LineEnds line_ends(LineControl) const override { return {}; }
};


}  // namespace

NetworkBuses read_network_buses(const std::filesystem::path& folder)
{
    RunState st(true);
    InputSlot input(folder);
    NoControls controls;
    NoSurface surface;
    Pass pass{st, input, controls, surface};
    try {
        read_network_file(pass);
    } catch (const PassError& error) {
        throw ScenarioError(error.what());  // it names the file, and the line where there is one
    }
    NetworkBuses buses;
    for (int i = 1; i <= st.nbus.value(); ++i) {
        const Integer k{static_cast<std::int16_t>(i)};
        buses.places.push_back({st.xc(k), st.yc(k)});
        buses.names.push_back(encode_utf8(st.bus_name(k)));
    }
    buses.connections = st.nconn.value();
    for (int i = 1; i <= st.nconn.value(); ++i) {
        const Integer k{static_cast<std::int16_t>(i)};
        buses.joined.emplace_back(st.from_bus(k).value() - 1, st.to_bus(k).value() - 1);
    }
    return buses;
}

}  // namespace umbrascope::scenario
