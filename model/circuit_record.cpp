#include "model/circuit_record.hpp"

#include <cstdio>

#include "core/lines.hpp"
#include "core/words.hpp"

namespace umbrascope {

std::string circuit_record_text(const CircuitRecord& record)
{
    if (record.entry.empty())
        return "# This folder's network was imported from two tables, not from an OpenDSS circuit\ntables=" +
               record.tables + "\n";
    std::string out = "# The OpenDSS circuit this folder's network was imported from, for umbrascope-study\n";
    out += "entry=" + record.entry.string() + "\n";
    out += "circuit=" + record.circuit + "\n";
    out += "source_bus=" + record.source_bus + "\n";
    out += "source_drawn_bus=" + record.source_drawn_bus + "\n";
    if (record.metres_per_unit_by_lines) {
        char text[64];
        std::snprintf(text, sizeof text, "%.6g", *record.metres_per_unit_by_lines);
        out += "metres_per_unit_by_lines=" + std::string(text) + "\n";
    }
    if (!record.control_mode.empty())
        out += "control_mode=" + record.control_mode + "\n";
    if (record.lines_without_units > 0)
        out += "lines_without_units=" + std::to_string(record.lines_without_units) + "\n";
    return out;
}

CircuitRecord read_circuit_record_text(std::string_view text)
{
    CircuitRecord record;
    each_line(text, [&](std::string_view line, long) {
        const std::size_t equals = line.find('=');
        if (line.empty() || line.front() == '#' || equals == std::string_view::npos)
            return;
        const std::string_view key = line.substr(0, equals);
        const std::string value(line.substr(equals + 1));
        if (key == "entry")
            record.entry = value;
        else if (key == "circuit")
            record.circuit = value;
        else if (key == "source_bus")
            record.source_bus = value;
        else if (key == "source_drawn_bus")
            record.source_drawn_bus = value;
        else if (key == "tables")
            record.tables = value;
        else if (key == "metres_per_unit_by_lines")
            record.metres_per_unit_by_lines = number_of(value);
        else if (key == "control_mode")
            record.control_mode = lower(value);
        else if (key == "lines_without_units")
            record.lines_without_units = static_cast<int>(number_of(value).value_or(0));
    });
    return record;
}

}  // namespace umbrascope
