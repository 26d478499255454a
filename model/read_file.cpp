#include "model/read_file.hpp"

#include "core/file_bytes.hpp"
#include "model/folder_error.hpp"

namespace umbrascope {

std::string read_whole_file(const std::filesystem::path& path, const char* what)
{
    std::string bytes, why;
    if (!file_bytes(path, bytes, why))
        throw FolderError(std::string("cannot read the ") + what + " " + path.string() + ": " + why);
    return bytes;
}

}  // namespace umbrascope
