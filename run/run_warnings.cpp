#include "run/run_warnings.hpp"

#include <cmath>
#include <cstdio>

namespace umbrascope {

namespace {

constexpr int header_lines = 6;      // a sun table's row r is on line r + 6
constexpr double smallest_span = 10;  // network units across, below which the network is a dot

// Sun-table rows of one kind: the first, how many, the last.
struct Rows {
    int first = 0;
    int first_values = 0;
    int count = 0;
    int last = 0;

    void add(int row, int values)
    {
        if (count++ == 0) {
            first = row;
            first_values = values;
        }
        last = row;
    }

    [[nodiscard]] std::string text(int buses, const std::string& why) const
    {
        std::string line = std::string(sun_table_file_name) + " line " + std::to_string(first + header_lines) + ": " +
                           std::to_string(first_values) + " value" + (first_values == 1 ? "" : "s") + " for " +
                           std::to_string(buses) + " bus" + (buses == 1 ? "" : "es") + why;
        if (count > 1)
            line += " (" + std::to_string(count - 1) + " more row" + (count == 2 ? "" : "s") + " like it, the last on line " +
                    std::to_string(last + header_lines) + ")";
        return line;
    }
};

}  // namespace

std::vector<std::string> first_pass_warnings(const RunState& st)
{
    std::vector<std::string> warnings;
    const int buses = st.nbus.value();
    if (buses <= 0) {
        warnings.push_back(std::string(network_file_name) + " holds no buses: there is no network to draw");
        return warnings;
    }

    // The network's larger span, before the half unit added on each side.
    const double span = std::max(double{st.xc_max} - st.xc_min, double{st.yc_max} - st.yc_min) - 1;
    if (buses >= 2 && span >= 0 && span < smallest_span) {
        char text[256];
        std::snprintf(text, sizeof text,
                      "%s: the network is %g units across, drawn at %.0f %% of the frame (half a unit is added on each "
                      "side): give coordinates in metres or feet",
                      std::string(network_file_name).c_str(), span, 100 * span / (span + 1));
        warnings.emplace_back(text);
    }

    Rows fewer, more;
    for (int r = 1; r <= st.n_time.value(); ++r) {
        const int values = st.sun_table.filled_width(Integer(static_cast<std::int16_t>(r)));
        if (values < buses)
            fewer.add(r, values);
        else if (values > buses)
            more.add(r, values);
    }
    if (fewer.count > 0)
        warnings.push_back(fewer.text(buses, "; the missing ones count as 0"));
    if (more.count > 0)
        warnings.push_back(more.text(buses, ": a decimal comma? Numbers take the point (0.93); the values past the "
                                            "last bus are not drawn"));
    return warnings;
}

}  // namespace umbrascope
