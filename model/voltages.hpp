#pragma once
// The voltages a study brought back (umbrascope-study read), for the pictures of a run: each bus's
// lowest and highest per-unit voltage in each row, its class, the share of buses outside range A
// row by row, the rows where buses leave it and the worst, and each bus's distance from the source.

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/run_state.hpp"
#include "core/service_voltage.hpp"
#include "model/bus_colouring.hpp"

namespace umbrascope {

inline constexpr std::string_view lowest_voltage_file_name = "cloud_voltage_min_table.txt";
inline constexpr std::string_view highest_voltage_file_name = "cloud_voltage_max_table.txt";
inline constexpr std::string_view voltage_report_file_name = "voltage_report.csv";

// Voltage tables that do not fit the run; the message names the file and says what to do.
class VoltageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Whether `folder` holds both voltage tables.
[[nodiscard]] bool has_voltage_tables(const std::filesystem::path& folder);

class RunVoltages : public BusColouring {
public:
    // The tables of `folder`. Throws VoltageError for tables that cannot be read, or that differ
    // from each other.
    static RunVoltages read(const std::filesystem::path& folder);
    // Whether they were made for the run `st` has read: its rows, its buses and their names.
    // Throws VoltageError, naming the file and saying how to make them again, where not.
    void check(const RunState& st) const;

    [[nodiscard]] int rows() const { return rows_; }
    [[nodiscard]] int buses() const { return buses_; }
    // Row and bus from 1; no_voltage outside the tables.
    [[nodiscard]] PerUnit lowest(int row, int bus) const;
    [[nodiscard]] PerUnit highest(int row, int bus) const;
    [[nodiscard]] VoltageClass class_of(int row, int bus) const;
    [[nodiscard]] std::optional<Colour> disc_colour(int row, int bus) const override;
    // A bus outside range A is drawn above those inside it.
    [[nodiscard]] bool drawn_above(int row, int bus) const override;

    // The share of buses outside range A in each row (index row - 1), and of those below it and
    // above it (classed by their larger departure).
    [[nodiscard]] const std::vector<float>& outside_shares() const { return shares_; }
    [[nodiscard]] const std::vector<float>& below_shares() const { return below_; }
    [[nodiscard]] const std::vector<float>& above_shares() const { return above_; }
    // The buses (from 1) outside range A in every row in which they have a voltage: the feeder's
    // own (an open switch's dead phase), not the sky's. By default the shares, the excursions, the
    // worst row and the worst bus leave them out; `count_own_outside(true)` brings them back.
    [[nodiscard]] const std::vector<int>& outside_all_run() const { return own_outside_; }
    void count_own_outside(bool counted);
    [[nodiscard]] bool own_outside_counted() const { return own_counted_; }
    // What the band says of them once: how many, the first few by the network's names, and
    // whether they are counted; empty where there are none.
    [[nodiscard]] std::string own_outside_note(const RunState& st) const;
    // The jumps' figures with the feeder's own counted or left out, whichever is shown now.
    struct Jumps {
        std::vector<int> excursions;
        int worst_row = 0;
        std::vector<int> worst_bus;  // each row's (index row - 1), from 1; 0 for none
    };
    [[nodiscard]] Jumps jumps(bool own_counted) const;

    // The first row of the next excursion after `row` (a run of rows with a bus outside range A),
    // or of the last one that starts before it; 0 for none.
    [[nodiscard]] int next_outside(int row) const;
    [[nodiscard]] int previous_outside(int row) const;
    // The bus of `row` that departs furthest from range A (the lowest index of equal ones); 0
    // where none leaves it.
    [[nodiscard]] int worst_bus(int row) const;
    [[nodiscard]] const std::vector<int>& excursions() const { return excursions_; }
    // The row whose buses depart furthest from range A, summed over them; 0 when none leaves it.
    [[nodiscard]] int worst_row() const { return worst_row_; }
    // The lowest and highest value over the whole run; no_voltage for none.
    [[nodiscard]] PerUnit run_lowest() const { return run_lowest_; }
    [[nodiscard]] PerUnit run_highest() const { return run_highest_; }
    // The same leaving out the one bus in two hundred that goes furthest (a node left hanging by
    // an open conductor reads next to nothing), for axes that show the feeder rather than them.
    [[nodiscard]] PerUnit usual_lowest() const { return usual_lowest_; }
    [[nodiscard]] PerUnit usual_highest() const { return usual_highest_; }

    // Each bus's distance from the source along the network (index bus - 1), below 0 where not
    // known; from voltage_report.csv, in km or in network units.
    [[nodiscard]] const std::vector<double>& distances() const { return distances_; }
    [[nodiscard]] bool distances_in_km() const { return in_km_; }

private:
    [[nodiscard]] std::size_t cell(int row, int bus) const
    {
        return static_cast<std::size_t>(row - 1) * static_cast<std::size_t>(buses_) + static_cast<std::size_t>(bus - 1);
    }

    int rows_ = 0;
    int buses_ = 0;
    std::vector<PerUnit> lowest_;   // row by row
    std::vector<PerUnit> highest_;
    std::vector<std::string> names_;  // as the tables' column line gives them; empty where it does not
    std::filesystem::path folder_;
    std::vector<VoltageClass> classes_;
    std::vector<float> shares_;
    std::vector<int> excursions_;  // the first row of each run of rows with a bus outside range A, rising
    std::vector<float> below_;
    std::vector<float> above_;
    int worst_row_ = 0;
    std::vector<int> own_outside_;     // outside range A all run, from 1
    std::vector<bool> set_aside_;      // by bus from 1 (index 0 unused): left out of the counts
    bool own_counted_ = false;
    void count_outside();              // the shares, excursions and worst row, over the buses counted
    [[nodiscard]] int worst_bus(int row, const std::vector<bool>& aside) const;
    [[nodiscard]] std::int64_t departure(int row, int bus) const;  // from range A, in ten-thousandths
    struct Shares {  // each row's (index row - 1); nullptr where not wanted
        float* outside = nullptr;
        float* below = nullptr;
        float* above = nullptr;
    };
    // The excursions and the worst row over the buses not set `aside`, the shares into `shares`.
    [[nodiscard]] Jumps walk(const std::vector<bool>& aside, Shares shares) const;
    PerUnit run_lowest_ = no_voltage;
    PerUnit run_highest_ = no_voltage;
    PerUnit usual_lowest_ = no_voltage;
    PerUnit usual_highest_ = no_voltage;
    std::vector<double> distances_;
    bool in_km_ = false;
};

}  // namespace umbrascope
