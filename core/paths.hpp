#pragma once
// A path as the files that name it keep it: whole, its links and dots resolved where it exists.

#include <filesystem>
#include <system_error>

namespace umbrascope {

// `path` made absolute, resolved through links as far as it exists; lexically normal where that fails.
[[nodiscard]] inline std::filesystem::path full_path(const std::filesystem::path& path)
{
    std::error_code error;
    const std::filesystem::path canonical = std::filesystem::weakly_canonical(path, error);
    return error ? std::filesystem::absolute(path).lexically_normal() : canonical;
}

}  // namespace umbrascope
