#include "import/source_files.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>
#include <sys/stat.h>

namespace umbrascope::import {

namespace fs = std::filesystem;

namespace {

// "..\Lines\LineCodes.DSS" as a relative path with forward slashes.
fs::path portable(std::string_view name)
{
    std::string text(name);
    for (char& c : text)
        if (c == '\\')
            c = '/';
    return fs::path(text);
}

}  // namespace

std::optional<fs::path> DiskFiles::find(const fs::path& from, std::string_view name)
{
    const fs::path wanted = portable(name);
    // A file named bare is in the current folder, which is searched as ".".
    fs::path at = wanted.is_absolute() ? wanted.root_path() : from.empty() ? fs::path(".") : from;
    const bool bare = !wanted.is_absolute() && from.empty();
    std::error_code error;
    for (const fs::path& part : wanted.relative_path()) {
        const fs::path exact = at / part;
        if (part == "." || part == ".." || fs::exists(exact, error)) {
            at = exact;
            continue;
        }
        // The same name in another letter case, as a circuit written on Windows often has it.
        const std::string key = lower(part.string());
        std::optional<fs::path> match;
        for (fs::directory_iterator entry(at, error), end; !error && entry != end; entry.increment(error))
            if (lower(entry->path().filename().string()) == key) {
                match = entry->path();
                break;
            }
        if (!match)
            return std::nullopt;
        at = *match;
    }
    if (!fs::is_regular_file(at, error))
        return std::nullopt;
    return bare ? at.lexically_relative(".") : at;
}

fs::path DiskFiles::folder_of(const fs::path& file)
{
    std::error_code error;
    if (fs::is_symlink(file, error)) {
        const fs::path real = fs::canonical(file, error);
        if (!error)
            return real.parent_path();
    }
    return file.parent_path();
}

std::optional<std::string> DiskFiles::read(const fs::path& path, std::string& why)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        why = std::strerror(errno);
        return std::nullopt;
    }
    std::string bytes;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && info.st_size > 0)
        bytes.reserve(static_cast<std::size_t>(info.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            why = std::strerror(errno);
            ::close(fd);
            return std::nullopt;
        }
        if (got == 0)
            break;
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return bytes;
}

void MemoryFiles::add(const fs::path& path, std::string bytes)
{
    const fs::path normal = path.lexically_normal();
    files_[lower(normal.string())] = {normal, std::move(bytes)};
}

std::optional<fs::path> MemoryFiles::find(const fs::path& from, std::string_view name)
{
    const fs::path wanted = portable(name);
    const fs::path full = (wanted.is_absolute() ? wanted : from / wanted).lexically_normal();
    const auto found = files_.find(lower(full.string()));
    if (found == files_.end())
        return std::nullopt;
    return found->second.first;
}

std::optional<std::string> MemoryFiles::read(const fs::path& path, std::string& why)
{
    const auto found = files_.find(lower(path.lexically_normal().string()));
    if (found == files_.end()) {
        why = "No such file or directory";
        return std::nullopt;
    }
    return found->second.second;
}

std::optional<std::string> FingerprintedFiles::read(const fs::path& path, std::string& why)
{
    std::optional<std::string> bytes = disk_.read(path, why);
    if (bytes) {
        print_.add(path.string());
        print_.add(*bytes);
        Fingerprint own;
        own.add(*bytes);
        // By the file itself: a link made since to a name the circuit spells otherwise is the same file.
        std::error_code error;
        const fs::path file = fs::weakly_canonical(path, error);
        files_.emplace_back(error ? path : file, own.text());
    }
    return bytes;
}

}  // namespace umbrascope::import
