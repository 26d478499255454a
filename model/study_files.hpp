#pragma once
// The files a study of a folder's sky and network leaves in it, which a new network or a new sky
// makes stale.

#include <filesystem>
#include <string>
#include <vector>

namespace umbrascope {

// Those of them that are in `folder`, by name: study.dss, results, the voltage tables, the reports
// and the controls table.
[[nodiscard]] std::vector<std::string> study_files(const std::filesystem::path& folder);

// "a, b and c".
[[nodiscard]] std::string joined_names(const std::vector<std::string>& names);

}  // namespace umbrascope
