#include "output/output_file.hpp"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace umbrascope {

FileSystemCalls& file_system_calls()
{
    static FileSystemCalls calls{[](const char* folder) { return ::open(folder, O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666); },
                                 [](int fd) { return ::fsync(fd); }};
    return calls;
}


namespace fs = std::filesystem;

namespace {

constexpr std::size_t buffer_size = std::size_t{64} * 1024;

// The temporary files open now, so that a program ended by a signal can remove them: fixed slots,
// claimed and released with atomics, readable from a signal handler.
struct TemporarySlot {
    std::atomic<bool> used{false};
    char path[4096]{};
};
TemporarySlot temporaries[64];

int claim_slot(const std::string& path)
{
    if (path.size() >= sizeof(TemporarySlot::path))
        return -1;
    for (int i = 0; i < static_cast<int>(std::size(temporaries)); ++i) {
        bool expected = false;
        if (temporaries[i].used.load() || !temporaries[i].used.compare_exchange_strong(expected, true))
            continue;
        std::memcpy(temporaries[i].path, path.c_str(), path.size() + 1);
        return i;
    }
    return -1;  // more at once than ever happens; such a file is only removed on a normal exit
}

void release_slot(int& slot)
{
    if (slot >= 0)
        temporaries[slot].used.store(false);
    slot = -1;
}

std::string reason(int error) { return error == 0 ? "unknown error" : std::strerror(error); }

}  // namespace

OutputFile::OutputFile(fs::path path) : final_(std::move(path)), buffer_()
{
    buffer_.reserve(buffer_size);
    std::error_code ignored;
    fs::path target = final_;
    if (fs::is_symlink(final_, ignored))
        target = fs::weakly_canonical(final_, ignored);
    struct stat info {};
    if (::stat(target.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        if (S_ISDIR(info.st_mode))
            fail(EISDIR);
        fd_ = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd_ < 0)
            fail(errno);
        return;
    }
    final_ = target;
    // The temporary file sits beside its target, so that the rename never crosses file systems.
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    // Unnamed where the file system and /proc allow: linked into place by its descriptor at commit.
    static const bool proc_fds = ::access("/proc/self/fd", X_OK) == 0;
    if (proc_fds) {
        fd_ = file_system_calls().open_unnamed(folder.c_str());
        if (fd_ >= 0) {
            unnamed_ = true;
            return;
        }
    }
    std::string pattern = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
    fd_ = ::mkstemp(pattern.data());
    if (fd_ < 0)
        fail(errno);
    temporary_ = pattern;
    slot_ = claim_slot(pattern);
    // mkstemp makes the file private; give it the mode a newly created file would have.
    static const mode_t mask = [] {
        const mode_t m = ::umask(022);
        ::umask(m);
        return m;
    }();
    (void)::fchmod(fd_, 0644 & ~mask);
}

OutputFile OutputFile::standard_output(std::string label)
{
    OutputFile file;
    file.final_ = "-";
    file.label_ = std::move(label);
    file.fd_ = STDOUT_FILENO;
    file.owns_fd_ = false;
    file.buffer_.reserve(buffer_size);
    return file;
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : final_(std::move(other.final_)), temporary_(std::move(other.temporary_)), label_(std::move(other.label_)),
      unnamed_(other.unnamed_), fd_(other.fd_), owns_fd_(other.owns_fd_), buffer_(std::move(other.buffer_)),
      slot_(other.slot_), finished_(other.finished_)
{
    other.fd_ = -1;
    other.temporary_.clear();
    other.slot_ = -1;
}

OutputFile::~OutputFile() { discard(); }

std::string OutputFile::name() const { return label_.empty() ? final_.string() : label_; }

void OutputFile::fail(int error) const { throw WriteError("cannot write " + name() + ": " + reason(error)); }

void OutputFile::write(const void* data, std::size_t size)
{
    if (fd_ < 0 || finished_)
        fail(EBADF);
    const auto* bytes = static_cast<const char*>(data);
    if (buffer_.size() + size > buffer_size)
        flush();
    if (size >= buffer_size) {
        buffer_.assign(bytes, bytes + size);
        flush();
        return;
    }
    buffer_.insert(buffer_.end(), bytes, bytes + size);
}

void OutputFile::flush()
{
    std::size_t done = 0;
    while (done < buffer_.size()) {
        const ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail(errno);
        }
        done += static_cast<std::size_t>(n);
    }
    buffer_.clear();
}

std::int64_t OutputFile::seek(std::int64_t offset, int whence)
{
    if (fd_ < 0)
        fail(EBADF);
    flush();
    const off_t at = ::lseek(fd_, static_cast<off_t>(offset), whence);
    if (at < 0)
        fail(errno);
    return at;
}

void OutputFile::finish(bool sync)
{
    if (finished_)
        return;
    flush();
    // The bytes reach the disk before the file takes its name, and the name after: a crash right
    // after a file was reported written leaves it whole, not empty.
    if (sync && (unnamed_ || !temporary_.empty()) && file_system_calls().sync(fd_) != 0)
        fail(errno);
    // An unnamed file stays open: its descriptor is all there is of it until it is linked.
    if (!unnamed_)
        close_descriptor();
    finished_ = true;
}

void OutputFile::close_descriptor()
{
    const int fd = fd_;
    fd_ = -1;
    if (owns_fd_ && fd >= 0 && ::close(fd) != 0)
        fail(errno);
}

namespace {

// A name for the moment between linking a new file and renaming it over an existing one.
std::string hidden_name(const fs::path& target)
{
    static std::atomic<unsigned> counter{0};
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%d.%u", static_cast<int>(::getpid()), counter.fetch_add(1));
    return (target.parent_path() / ("." + target.filename().string() + suffix)).string();
}

}  // namespace

void OutputFile::link_into_place()
{
    const std::string by_descriptor = "/proc/self/fd/" + std::to_string(fd_);
    if (::linkat(AT_FDCWD, by_descriptor.c_str(), AT_FDCWD, final_.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return;
    if (errno != EEXIST)
        fail(errno);
    // A file is there already: link under a hidden name, then rename over it, so that the old
    // file stays whole until the new one replaces it at once.
    std::string hidden;
    for (;;) {
        hidden = hidden_name(final_);
        if (::linkat(AT_FDCWD, by_descriptor.c_str(), AT_FDCWD, hidden.c_str(), AT_SYMLINK_FOLLOW) == 0)
            break;
        if (errno != EEXIST)
            fail(errno);
    }
    slot_ = claim_slot(hidden);
    if (std::rename(hidden.c_str(), final_.c_str()) != 0) {
        const int error = errno;
        ::unlink(hidden.c_str());
        release_slot(slot_);
        fail(error);
    }
    release_slot(slot_);
}

void OutputFile::commit(bool sync_folder)
{
    finish();
    if (unnamed_) {
        link_into_place();
        unnamed_ = false;
        close_descriptor();
    } else if (!temporary_.empty()) {
        if (std::rename(temporary_.c_str(), final_.c_str()) != 0)
            fail(errno);
        temporary_.clear();
        release_slot(slot_);
    } else {
        fd_ = -1;
        return;
    }
    if (sync_folder)
        this->sync_folder();
}

void OutputFile::sync_folder() const
{
    const fs::path folder = final_.has_parent_path() ? final_.parent_path() : fs::path(".");
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        fail(errno);
    const int synced = ::fsync(fd);
    const int error = errno;
    ::close(fd);
    // Some file systems cannot sync a folder; the rename stands there as it can.
    if (synced != 0 && error != EINVAL && error != EROFS)
        fail(error);
}

void OutputFile::discard() noexcept
{
    if (fd_ >= 0 && owns_fd_)
        ::close(fd_);
    fd_ = -1;
    if (!temporary_.empty())
        ::unlink(temporary_.c_str());
    temporary_.clear();
    release_slot(slot_);
}

void remove_temporary_files_now() noexcept
{
    for (TemporarySlot& slot : temporaries)
        if (slot.used.load())
            ::unlink(slot.path);
}

void write_file(const fs::path& path, std::string_view bytes)
{
    OutputFile file(path);
    file.write(bytes);
    file.commit();
}

OutputStreamBuffer::int_type OutputStreamBuffer::overflow(int_type c)
{
    if (traits_type::eq_int_type(c, traits_type::eof()))
        return traits_type::not_eof(c);
    const char byte = traits_type::to_char_type(c);
    return xsputn(&byte, 1) == 1 ? c : traits_type::eof();
}

std::streamsize OutputStreamBuffer::xsputn(const char* s, std::streamsize n)
{
    if (!error_.empty())
        return 0;
    try {
        file_.write(s, static_cast<std::size_t>(n));
    } catch (const WriteError& e) {
        error_ = e.what();
        return 0;
    }
    return n;
}

}  // namespace umbrascope
