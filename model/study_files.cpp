#include "model/study_files.hpp"

#include <system_error>

namespace umbrascope {

std::vector<std::string> study_files(const std::filesystem::path& folder)
{
    std::vector<std::string> found;
    std::error_code error;
    for (const char* name : {"study.dss", "results", "slices", "cloud_voltage_min_table.txt", "cloud_voltage_max_table.txt",
                             "voltage_report.csv", "voltage_report_clear.csv", "controls_report.csv",
                             "cloud_controls_table.txt", "slices_report.csv"})
        if (std::filesystem::exists(folder / name, error))
            found.emplace_back(name);
    return found;
}

std::string joined_names(const std::vector<std::string>& names)
{
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        text += i == 0 ? "" : i + 1 == names.size() ? " and " : ", ";
        text += names[i];
    }
    return text;
}

}  // namespace umbrascope
