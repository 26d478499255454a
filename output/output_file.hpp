#pragma once
// Files that the exporter and the window write: whole or not at all. The bytes go to a temporary
// file in the same folder, which takes the final name only once everything has been written,
// synced to the disk and closed without error; the folder is synced after the rename. Where the
// file system allows, the temporary file has no name at all until then (Linux's O_TMPFILE), so a
// process killed part-way leaves nothing behind; elsewhere it is a hidden file beside the target.
// A name that is a symbolic link is written through to its target; a target that is not a regular
// file (a device, a pipe, standard output) is written in place, since it cannot be replaced.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <streambuf>
#include <string>
#include <string_view>
#include <vector>

namespace umbrascope {

// A file that could not be written; the message names the file and the system's reason.
class WriteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class OutputFile {
public:
    // Opens the temporary file (or the target in place). Throws WriteError.
    explicit OutputFile(std::filesystem::path path);
    // The process's standard output, written in place; `label` names it in messages.
    static OutputFile standard_output(std::string label);
    OutputFile(OutputFile&& other) noexcept;
    OutputFile& operator=(OutputFile&&) = delete;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();  // an uncommitted temporary file is removed

    void write(const void* data, std::size_t size);  // buffered; throws WriteError
    void write(std::string_view bytes) { write(bytes.data(), bytes.size()); }
    // Writes out the buffer and moves to `offset` as lseek does; gives the new position. Throws
    // WriteError, also where the target cannot seek (a pipe).
    std::int64_t seek(std::int64_t offset, int whence);
    // Writes out the buffer, and syncs it unless `sync` is false (the caller then makes the bytes
    // durable itself, as FrameFiles does for many files at once), leaving the final name to
    // commit: several files finished first are named together, so that one failing leaves none.
    // Throws WriteError.
    void finish(bool sync = true);
    // Finishes, and gives the file its final name; then syncs the folder unless `sync_folder` is
    // false. Throws WriteError.
    void commit(bool sync_folder = true);
    // Syncs the folder of the file, so that the names given last are durable. Throws WriteError.
    void sync_folder() const;
    // Whether the bytes go to a file that has no name until commit.
    [[nodiscard]] bool unnamed() const { return unnamed_; }

    [[nodiscard]] const std::filesystem::path& path() const { return final_; }
    [[nodiscard]] std::string name() const;  // for messages

private:
    OutputFile() = default;
    [[noreturn]] void fail(int error) const;
    void flush();
    void link_into_place();
    void close_descriptor();
    void discard() noexcept;

    std::filesystem::path final_;
    std::filesystem::path temporary_;  // the hidden file's name; empty when unnamed or written in place
    std::string label_;
    bool unnamed_ = false;              // an O_TMPFILE file, linked into place at commit
    int fd_ = -1;
    bool owns_fd_ = true;
    std::vector<char> buffer_;
    int slot_ = -1;  // in the list of temporary files a signal handler removes
    bool finished_ = false;
};

// The two system calls on which a file's wholeness rests, replaceable by tests: the open of an
// unnamed file (which NFS, CIFS and vfat refuse, so that a hidden named one is made instead) and
// the sync that makes the bytes durable before the file takes its name.
struct FileSystemCalls {
    int (*open_unnamed)(const char* folder);  // a descriptor of an unnamed file, below 0 for none
    int (*sync)(int fd);
};
[[nodiscard]] FileSystemCalls& file_system_calls();

// Removes every temporary file not yet renamed, from a signal handler that ends the program at
// once: async-signal-safe.
void remove_temporary_files_now() noexcept;

// Writes `bytes` to `path` whole or not at all. Throws WriteError.
void write_file(const std::filesystem::path& path, std::string_view bytes);

// A stream buffer over an OutputFile for std::ostream users (the trace). A failed write is kept,
// not thrown, since streams swallow exceptions: check `error()` after writing.
class OutputStreamBuffer : public std::streambuf {
public:
    explicit OutputStreamBuffer(OutputFile& file) : file_(file) {}
    [[nodiscard]] const std::string& error() const { return error_; }

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* s, std::streamsize n) override;

private:
    OutputFile& file_;
    std::string error_;
};

}  // namespace umbrascope
