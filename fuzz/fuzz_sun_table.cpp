// The sun table reader on any bytes.

#include "clouds/sun_table.hpp"
#include "fuzz/harness.hpp"

using namespace umbrascope;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const bool large = fuzz::take_large_mode(data, size);
    fuzz::write_input(sun_table_file_name, {reinterpret_cast<const char*>(data), size});
    fuzz::World world(large);
    RunState& st = *world.st;
    st.delim = U',';
    const auto& echo = world.controls.list(ListBox::Info_Listbox);
    try {
        read_sun_table(world.pass);
        fuzz::require(st.i_time == 1 && st.n_time >= 0 && st.n_time <= st.time_val.upper());
        fuzz::require(st.ncol == -9999 || (st.ncol >= 1 && st.ncol.value() <= st.sun_table.column_upper() + 1));
        fuzz::require(echo.size() == (st.n_time > 0 ? 9U : 8U));
    } catch (const PassError& error) {
        fuzz::require_known_kind(error);
        fuzz::require(st.n_time == 0 && st.i_time.value() <= st.time_val.upper() + 1);
        fuzz::require(echo.size() <= 7U);
    }
    fuzz::require(!world.input.is_open());
    return 0;
}
