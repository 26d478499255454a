#include "model/controls.hpp"

#include <algorithm>
#include <charconv>

#include "core/csv.hpp"
#include "core/fingerprint.hpp"
#include "core/lines.hpp"
#include "model/folder_error.hpp"
#include "model/read_file.hpp"

namespace umbrascope {

namespace fs = std::filesystem;

namespace {

constexpr int header_lines = 10;
constexpr std::string_view keys[] = {"kind", "name", "element", "drawn_bus", "sky", "settle"};

std::optional<int> whole(std::string_view text)
{
    text = trim_blanks(text);
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

}  // namespace

int ControlSeries::state(int row, bool clear) const
{
    const std::vector<int>& states = clear ? clear_rows : rows;
    if (row <= 0 || states.empty())
        return clear ? clear_settle.value_or(settle) : settle;
    return states[static_cast<std::size_t>(std::min<std::size_t>(static_cast<std::size_t>(row), states.size()) - 1)];
}

bool ControlSeries::acts(int row) const
{
    return row >= 1 && static_cast<std::size_t>(row) <= rows.size() && state(row) != state(row - 1);
}

ControlsTable::ControlsTable(std::vector<ControlSeries> controls, int rows, std::string made_from)
    : controls_(std::move(controls)), rows_(rows), made_from_(std::move(made_from))
{
    for (int row = 1; row <= rows_; ++row)
        if (std::any_of(controls_.begin(), controls_.end(), [&](const ControlSeries& c) { return c.acts(row); }))
            action_rows_.push_back(row);
}

bool ControlsTable::twin() const { return !controls_.empty() && controls_.front().clear_settle.has_value(); }

std::optional<std::string> ControlsTable::sky() const { return named_fingerprint(made_from_); }

int ControlsTable::next_action(int row) const
{
    const auto found = std::upper_bound(action_rows_.begin(), action_rows_.end(), row);
    return found == action_rows_.end() ? 0 : *found;
}

int ControlsTable::previous_action(int row) const
{
    const auto found = std::lower_bound(action_rows_.begin(), action_rows_.end(), row);
    return found == action_rows_.begin() ? 0 : *(found - 1);
}

std::string ControlsTable::text(const std::string& line4, const std::vector<std::string>& times) const
{
    const bool clear = twin();
    std::string out = "Regulators' taps in whole steps from the middle of their range, and capacitors' steps in service, "
                      "row by row\n";
    out += made_from_ + "\n";
    out += std::string("Columns: time, then each control under this sky") +
           (clear ? ", then each under a clear sky" : "") + "; the settle line is the state before row 1\n";
    out += line4 + "\n";
    const auto line = [&](std::string_view key, const auto& field) {
        out += key;
        for (int pass = 0; pass < (clear ? 2 : 1); ++pass)
            for (const ControlSeries& control : controls_) {
                out += ',';
                append_csv(out, field(control, pass == 1));
            }
        out += '\n';
    };
    line("kind", [](const ControlSeries& c, bool) { return c.kind; });
    line("name", [](const ControlSeries& c, bool) { return c.name; });
    line("element", [](const ControlSeries& c, bool) { return c.element; });
    line("drawn_bus", [](const ControlSeries& c, bool) { return c.drawn_bus; });
    line("sky", [](const ControlSeries&, bool twin) { return std::string(twin ? "clear" : "sky"); });
    line("settle", [](const ControlSeries& c, bool twin) { return std::to_string(c.state(0, twin)); });
    for (int row = 1; row <= rows_; ++row) {
        out += static_cast<std::size_t>(row) <= times.size() ? times[static_cast<std::size_t>(row - 1)] : std::to_string(row);
        for (int pass = 0; pass < (clear ? 2 : 1); ++pass)
            for (const ControlSeries& control : controls_) {
                out += ',';
                out += std::to_string(control.state(row, pass == 1));
            }
        out += '\n';
    }
    return out;
}

std::optional<ControlsTable> ControlsTable::read(const fs::path& folder)
{
    const fs::path path = folder / controls_table_name;
    std::error_code missing;
    if (!fs::is_regular_file(path, missing))
        return std::nullopt;
    const std::string text = read_whole_file(path, "controls table");
    std::string made_from;
    std::vector<std::vector<std::string>> head(std::size(keys));
    std::vector<ControlSeries> controls;
    std::size_t columns = 0;
    bool clear = false;
    bool headed = false;
    int rows = 0;
    each_line(text, [&](std::string_view line, long number) {
        const auto bad = [&](const std::string& why) {
            return FolderError(path.string() + ":" + std::to_string(number) + ": " + why +
                               "; read the study again (umbrascope-study read " + folder.string() + ")");
        };
        if (number == 2)
            made_from = line;
        if (number < 5)
            return;
        if (number <= header_lines) {
            std::optional<std::vector<std::string>> fields = csv_fields(line);
            const std::string_view key = keys[static_cast<std::size_t>(number - 5)];
            if (!fields || fields->front() != key)
                throw bad("not the line \"" + std::string(key) + ",...\" of a controls table");
            fields->erase(fields->begin());
            if (number == 5)
                columns = fields->size();
            if (fields->size() != columns)
                throw bad(std::to_string(fields->size()) + " fields where its kind line names " + std::to_string(columns));
            head[static_cast<std::size_t>(number - 5)] = std::move(*fields);
            if (number < header_lines)
                return;
            headed = true;
            // The columns are the controls under the sky, then, with the twin, the same under a clear sky.
            const std::vector<std::string>& sky = head[4];
            const std::size_t own = static_cast<std::size_t>(std::count(sky.begin(), sky.end(), "sky"));
            clear = own < columns;
            if ((clear && own * 2 != columns) || std::count(sky.begin(), sky.end(), "clear") != static_cast<long>(columns - own))
                throw bad("the sky line is \"sky\" for each control, then \"clear\" for each again");
            for (std::size_t c = 0; c < own; ++c) {
                ControlSeries series{head[0][c], head[1][c], head[2][c], head[3][c], 0, {}, std::nullopt, {}};
                const std::optional<int> settle = whole(head[5][c]);
                if ((series.kind != "regcontrol" && series.kind != "capcontrol") || !settle)
                    throw bad("column " + std::to_string(c + 2) + " is no regcontrol or capcontrol with a settle state");
                series.settle = *settle;
                if (clear) {
                    series.clear_settle = whole(head[5][own + c]);
                    if (!series.clear_settle || head[1][own + c] != series.name)
                        throw bad("column " + std::to_string(own + c + 2) + " is not " + series.name + " under a clear sky");
                }
                controls.push_back(std::move(series));
            }
            return;
        }
        if (line.empty())
            return;
        ++rows;
        std::size_t at = line.find(',');
        for (std::size_t c = 0; c < columns; ++c) {
            const std::size_t next = at == std::string_view::npos ? at : line.find(',', at + 1);
            const std::optional<int> value =
                at == std::string_view::npos ? std::nullopt
                                             : whole(line.substr(at + 1, next == std::string_view::npos ? next : next - at - 1));
            if (!value)
                throw bad("field " + std::to_string(c + 2) + " is not a whole number");
            ControlSeries& series = controls[clear ? c % controls.size() : c];
            (clear && c >= controls.size() ? series.clear_rows : series.rows).push_back(*value);
            at = next;
        }
        if (at != std::string_view::npos)
            throw bad("more fields than its kind line names");
    });
    if (!headed)
        throw FolderError(path.string() + " ends within its ten header lines: read the study again (umbrascope-study read " +
                          folder.string() + ")");
    return ControlsTable(std::move(controls), rows, std::move(made_from));
}

}  // namespace umbrascope
