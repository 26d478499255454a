#pragma once
// Every drawn bus's voltage, row by row: the lowest and the highest per-unit voltage among the
// phase nodes of the drawn bus and of the customers' buses it stands for, from a study's monitor
// exports or from another engine's table; the two tables written in the sun table's layout, the
// report of how long each bus spent outside the ANSI C84.1 service ranges, and the summary.

#include <cstdint>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "core/service_voltage.hpp"
#include "scenario/sun_model.hpp"
#include "study/exports.hpp"
#include "study/folder.hpp"
#include "study/plan.hpp"

namespace umbrascope::study {

[[nodiscard]] PerUnit per_unit(double value);  // rounded to four places, half away from zero

struct VoltageTables {
    int rows = 0;
    int buses = 0;
    // Bus by bus, each bus's rows together (a bus's monitors are read into one run of memory);
    // no_voltage where a bus has none.
    std::vector<PerUnit> lowest;
    std::vector<PerUnit> highest;
    // Whether the engine's own values, before they are rounded for the tables, leave the ranges:
    // the bits outside_below_a and on, of any node of the bus in that row.
    std::vector<std::uint8_t> outside;
    [[nodiscard]] std::size_t at(int row, int bus) const
    {
        return static_cast<std::size_t>(bus) * static_cast<std::size_t>(rows) + static_cast<std::size_t>(row);
    }
};

inline constexpr std::uint8_t outside_below_a = 1;
inline constexpr std::uint8_t outside_above_a = 2;
inline constexpr std::uint8_t outside_below_b = 4;
inline constexpr std::uint8_t outside_above_b = 8;
// The bits of a per-unit value as the engine gave it.
[[nodiscard]] std::uint8_t outside_bits(double v);

struct FromMonitors {
    VoltageTables tables;
    std::string circuit;                // from the export's names
    std::vector<std::string> no_base;   // buses whose BasekV is 0 or missing
    // Monitor columns left out: a conductor the export lacks, a node the engine did not solve at
    // that bus, or a conductor reading no voltage where the engine solved one (a neutral the
    // circuit's script left unnamed), "study_v3 (Line.l1) conductor 2"
    std::vector<std::string> left_out;
    std::string voltages_file;          // the Export Voltages file's name
};

// Reads the exports of `monitors` in `results`, checking each against the sky's rows, each bus's
// base from `voltages` (the engine's Export Voltages after the settle). Throws StudyError for a
// missing or short file, rows that do not match the sun table, a voltage export that holds no
// bus, or a circuit without voltage bases.
[[nodiscard]] FromMonitors tables_from_monitors(const ResultsFolder& results, const std::vector<Monitor>& monitors,
                                                const Drawn& drawn, const Sky& sky,
                                                const std::filesystem::path& voltages);

struct FromTable {
    VoltageTables tables;
    std::vector<std::string> unknown;  // column names that are no drawn bus
    int columns = 0;                   // columns that are
};

// A wide per-unit table from any engine: "time,BUS,BUS,..." then a row a sun-table row, columns
// by drawn-bus name in any order and letter case, an empty field where there is no value. Each
// value is both the lowest and the highest. Throws StudyError.
[[nodiscard]] FromTable tables_from_wide(const std::filesystem::path& file, const Drawn& drawn, const Sky& sky);

// The text of one table: six header lines (`what`, `from`, `base`, then the sky's interval and
// clock, the columns and the bus names), then "time,v1,...,vn" a row with four decimals.
void write_voltage_table(const VoltageTables& tables, bool highest, const Drawn& drawn, const Sky& sky,
                         const std::string& from, const std::string& base, const scenario::TextSink& sink);

// voltage_report.csv: a row a drawn bus, its distance from the source along the connections
// (`distance` in km, or in network units where `km` is false; below 0 for none), its extremes and
// the seconds it spent outside ranges A and B.
[[nodiscard]] std::string report_text(const VoltageTables& tables, const Drawn& drawn, const Sky& sky,
                                      const std::vector<double>& distance, bool km);

// A few lines for the user: what left the ranges, the worst bus, value and time.
[[nodiscard]] std::vector<std::string> summary(const VoltageTables& tables, const Drawn& drawn, const Sky& sky);

// "t = 860 s", or the clock time "10:14:20" where the sky has one, of row `row` (from 1).
[[nodiscard]] std::string row_time(const Sky& sky, int row);

}  // namespace umbrascope::study
