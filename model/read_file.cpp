#include "model/read_file.hpp"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "model/folder_error.hpp"

namespace umbrascope {

std::string read_whole_file(const std::filesystem::path& path, const char* what)
{
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw FolderError(std::string("cannot read the ") + what + " " + path.string() + ": " +
                          (errno != 0 ? std::strerror(errno) : "it cannot be opened"));
    std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad())
        throw FolderError(std::string("cannot read the ") + what + " " + path.string() + ": read error");
    return bytes;
}

}  // namespace umbrascope
