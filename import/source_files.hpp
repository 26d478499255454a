#pragma once
// The files an import reads, found as engineers name them: relative to the file that names them,
// with either slash, and in any letter case. The disk is one source; the tests and the fuzz target
// give the reader files held in memory.

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/fingerprint.hpp"
#include "core/words.hpp"

namespace umbrascope::import {

class SourceFiles {
public:
    virtual ~SourceFiles() = default;
    // The file `name` names from folder `from`, or nothing when there is none.
    [[nodiscard]] virtual std::optional<std::filesystem::path> find(const std::filesystem::path& from,
                                                                    std::string_view name) = 0;
    // The bytes of a file `find` gave, or nothing with the reason in `why`.
    [[nodiscard]] virtual std::optional<std::string> read(const std::filesystem::path& path, std::string& why) = 0;
    // The folder the names in `file` are found from: the file's own.
    [[nodiscard]] virtual std::filesystem::path folder_of(const std::filesystem::path& file) { return file.parent_path(); }
};

class DiskFiles : public SourceFiles {
public:
    std::optional<std::filesystem::path> find(const std::filesystem::path& from, std::string_view name) override;
    std::optional<std::string> read(const std::filesystem::path& path, std::string& why) override;
    // The folder of the file itself, a symbolic link followed to it: the circuit's other files
    // lie beside the file, not beside a link to it.
    std::filesystem::path folder_of(const std::filesystem::path& file) override;
};

// Files by path, for tests and fuzzing; names are matched in any letter case.
class MemoryFiles : public SourceFiles {
public:
    void add(const std::filesystem::path& path, std::string bytes);
    std::optional<std::filesystem::path> find(const std::filesystem::path& from, std::string_view name) override;
    std::optional<std::string> read(const std::filesystem::path& path, std::string& why) override;

private:
    std::map<std::string, std::pair<std::filesystem::path, std::string>> files_;  // by lower-case path
};

// The disk's files as an import reads them, their bytes fingerprinted in the order read, so that
// what was made from a circuit can tell when the circuit changed, and which file did.
class FingerprintedFiles : public SourceFiles {
public:
    std::optional<std::filesystem::path> find(const std::filesystem::path& from, std::string_view name) override
    {
        return disk_.find(from, name);
    }
    std::optional<std::string> read(const std::filesystem::path& path, std::string& why) override;
    std::filesystem::path folder_of(const std::filesystem::path& file) override { return disk_.folder_of(file); }
    // Of every file read, in order.
    [[nodiscard]] std::string text() const { return print_.text(); }
    // Each file read, as the file itself (its links followed), and its own fingerprint, in the order read.
    [[nodiscard]] const std::vector<std::pair<std::filesystem::path, std::string>>& files() const { return files_; }

private:
    DiskFiles disk_;
    Fingerprint print_;
    std::vector<std::pair<std::filesystem::path, std::string>> files_;
};

}  // namespace umbrascope::import
