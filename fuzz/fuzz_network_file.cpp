// The network file reader on any bytes.

#include "fuzz/harness.hpp"
#include "network/network_file.hpp"

using namespace umbrascope;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const bool large = fuzz::take_large_mode(data, size);
    fuzz::write_input(network_file_name, {reinterpret_cast<const char*>(data), size});
    fuzz::World world(large);
    RunState& st = *world.st;
    try {
        read_network_file(world.pass);
        fuzz::require(st.nbus <= st.yc.upper() && st.nconn <= st.from_bus.upper());
    } catch (const PassError& error) {
        fuzz::require_known_kind(error);
        fuzz::require(st.nbus.value() <= st.yc.upper() + 1 && st.nconn.value() <= st.from_bus.upper() + 1);
    }
    fuzz::require(!world.input.is_open());  // closed on return and on failure alike
    fuzz::require(st.nbus >= 0 && st.nconn >= 0);
    // No more parsed echoes than records stored.
    const auto& parsed = world.controls.list(ListBox::Coordinates_Repeated_Listbox);
    fuzz::require(parsed.size() <= static_cast<std::size_t>(st.nbus.value() + st.nconn.value()));
    return 0;
}
