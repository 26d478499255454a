// The readers of the files a study writes and the window reads, on any bytes: the first byte picks
// the reader (a wide voltage table of another engine, the voltage tables, the controls table, the
// distances, the element map, the circuit record), the rest is the file.

#include <fstream>
#include <string_view>

#include "fuzz/harness.hpp"
#include "model/circuit_record.hpp"
#include "model/controls.hpp"
#include "model/distances.hpp"
#include "model/element_map.hpp"
#include "model/folder_error.hpp"
#include "model/voltages.hpp"
#include "study/voltages.hpp"

using namespace umbrascope;

namespace {

void put(const std::filesystem::path& path, std::string_view bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const int which = data[0] % 6;
    const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::filesystem::path folder = fuzz::scratch_folder() / "tables";
    std::filesystem::create_directories(folder);
    try {
        switch (which) {
        case 0: {
            put(folder / "wide.csv", input);
            study::Drawn drawn;
            drawn.names = {"a", "B", "c,d"};
            drawn.x = drawn.y = {0, 1, 2};
            study::Sky sky;
            sky.rows = 4;
            sky.interval = 10;
            const study::FromTable read = study::tables_from_wide(folder / "wide.csv", drawn, sky);
            fuzz::require(read.tables.lowest.size() == 12 && read.tables.outside.size() == 12);
            for (std::size_t i = 0; i < 12; ++i)
                fuzz::require(read.tables.lowest[i] <= read.tables.highest[i] ||
                              read.tables.lowest[i] == no_voltage || read.tables.highest[i] == no_voltage);
            break;
        }
        case 1: {
            put(folder / lowest_voltage_file_name, input);
            put(folder / highest_voltage_file_name, input);
            const RunVoltages voltages = RunVoltages::read(folder);
            fuzz::require(voltages.outside_shares().size() == static_cast<std::size_t>(voltages.rows()));
            fuzz::require(voltages.next_outside(0) >= 0 && voltages.worst_row() <= voltages.rows());
            break;
        }
        case 2: {
            put(folder / controls_table_name, input);
            const std::optional<ControlsTable> table = ControlsTable::read(folder);
            fuzz::require(table.has_value());
            for (const ControlSeries& control : table->controls()) {
                fuzz::require(control.rows.size() == static_cast<std::size_t>(table->rows()));
                fuzz::require(control.clear_rows.empty() || control.clear_rows.size() == control.rows.size());
            }
            for (int row = 0; row <= table->rows(); row = table->next_action(row))
                if (table->next_action(row) == 0)
                    break;
            break;
        }
        case 3:
            (void)read_distances_text(input, "d.csv");
            break;
        case 4:
            (void)read_elements_text(input, "e.csv");
            break;
        default:
            (void)read_circuit_record_text(input);
            break;
        }
    } catch (const FolderError& error) {
        fuzz::require(*error.what() != '\0');
    } catch (const VoltageError& error) {
        fuzz::require(*error.what() != '\0');
    } catch (const study::StudyError& error) {
        fuzz::require(*error.what() != '\0');
    }
    return 0;
}
