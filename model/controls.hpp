#pragma once
// The regulators' and capacitors' state row by row, as a study brought it back from the engine
// (umbrascope-study read writes cloud_controls_table.txt): each RegControl's tap in whole steps
// from the middle of its range and each CapControl's capacitor steps in service, after the settle
// and in every row, under the scenario's sky and, where the study ran it, under a clear sky.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace umbrascope {

inline constexpr std::string_view controls_table_name = "cloud_controls_table.txt";

struct ControlSeries {
    std::string kind;        // "regcontrol" or "capcontrol"
    std::string name;        // "VREG2_A"
    std::string element;     // "Transformer.VREG2_A", "Capacitor.C1"
    std::string drawn_bus;   // where its symbol stands; "" where no drawn bus stands for it
    int settle = 0;          // after the settle
    std::vector<int> rows;   // in each row, index row - 1
    std::optional<int> clear_settle;  // the same under a clear sky; nothing without the twin
    std::vector<int> clear_rows;
    [[nodiscard]] bool regulator() const { return kind == "regcontrol"; }
    // Its state in `row` (from 1; 0 is the settle), under the sky or the clear sky.
    [[nodiscard]] int state(int row, bool clear = false) const;
    // Whether it acts in `row`: its state differs from the row before (the settle, for row 1).
    [[nodiscard]] bool acts(int row) const;
};

class ControlsTable {
public:
    ControlsTable() = default;
    ControlsTable(std::vector<ControlSeries> controls, int rows, std::string made_from);

    // The folder's table; nothing where it has none. Throws FolderError for one that cannot be read.
    [[nodiscard]] static std::optional<ControlsTable> read(const std::filesystem::path& folder);

    // The file's text: `line4` is the sun table's fourth header line (its interval and clock), and
    // `times` each row's time field.
    [[nodiscard]] std::string text(const std::string& line4, const std::vector<std::string>& times) const;

    [[nodiscard]] int rows() const { return rows_; }
    [[nodiscard]] const std::vector<ControlSeries>& controls() const { return controls_; }
    [[nodiscard]] bool twin() const;
    [[nodiscard]] const std::string& made_from() const { return made_from_; }
    // The sky fingerprint its second line names; nothing where it names none.
    [[nodiscard]] std::optional<std::string> sky() const;
    // The first row after (or before) `row` in which any control acts; 0 for none.
    [[nodiscard]] int next_action(int row) const;
    [[nodiscard]] int previous_action(int row) const;
    [[nodiscard]] const std::vector<int>& action_rows() const { return action_rows_; }

private:
    std::vector<ControlSeries> controls_;
    int rows_ = 0;
    std::string made_from_;
    std::vector<int> action_rows_;  // rising
};

}  // namespace umbrascope
