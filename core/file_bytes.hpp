#pragma once
// A file's bytes at once, read in one piece where its size is known (a regular file), else as it
// comes (a pipe): the tables of a day run to hundreds of megabytes.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

namespace umbrascope {

// The bytes of `path` into `bytes`; false, with the system's reason in `why`, where it cannot be read.
[[nodiscard]] inline bool file_bytes(const std::filesystem::path& path, std::string& bytes, std::string& why)
{
    errno = 0;
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) {
        why = errno != 0 ? std::strerror(errno) : "it cannot be opened";
        return false;
    }
    std::error_code error;
    const std::uintmax_t size = std::filesystem::is_regular_file(path, error) ? std::filesystem::file_size(path, error) : 0;
    bytes.clear();
    if (!error && size > 0) {
        bytes.resize(static_cast<std::size_t>(size));
        bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file.get()));
    }
    // What is left: a file that grew, or one of no known size.
    char chunk[65536];
    for (std::size_t got = 0; (got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0;)
        bytes.append(chunk, got);
    if (std::ferror(file.get()) != 0) {
        why = "read error";
        return false;
    }
    return true;
}

}  // namespace umbrascope
