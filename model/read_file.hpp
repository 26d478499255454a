#pragma once
// The whole of a file of the scenario's folder.

#include <filesystem>
#include <string>

namespace umbrascope {

// Throws FolderError naming the file as `what` ("cannot read the element map X: ...").
[[nodiscard]] std::string read_whole_file(const std::filesystem::path& path, const char* what);

}  // namespace umbrascope
