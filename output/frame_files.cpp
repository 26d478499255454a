#include "output/frame_files.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace umbrascope {

namespace fs = std::filesystem;

namespace {

// Unnamed files hold a descriptor each until they are named: a group stays well within the
// descriptors a process may hold, and a kill loses at most a moment's frames.
constexpr std::size_t most_waiting = 48;
constexpr auto longest_wait = std::chrono::milliseconds(500);

}  // namespace

void FrameFiles::add(const std::string& name, std::string_view bytes)
{
    try {
        if (!folder_made_) {
            std::error_code error;
            fs::create_directories(folder_, error);
            if (error)
                throw WriteError("cannot create the output folder " + folder_.string() + ": " + error.message());
            folder_made_ = true;
        }
        if (waiting_.empty())
            oldest_ = std::chrono::steady_clock::now();
        OutputFile file(folder_ / name);
        file.write(bytes);
        // Synced with its group, unless a link sends it to another folder, which the group's sync
        // of this one's file system might not cover.
        std::error_code error;
        file.finish(!fs::equivalent(file.path().parent_path(), folder_, error));
        waiting_.push_back(std::move(file));
    } catch (const WriteError&) {
        commit();  // the frames before this one are whole
        throw;
    }
}

void FrameFiles::end_frame(int ordinal)
{
    complete_ = waiting_.size();
    waiting_frame_ = ordinal;
    if (waiting_.size() >= most_waiting || std::chrono::steady_clock::now() - oldest_ >= longest_wait)
        commit();
}

void FrameFiles::commit()
{
    if (complete_ == 0)
        return;
    // One sync of the file system makes every waiting file's bytes durable at once.
    const int folder = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        throw WriteError("cannot write to " + folder_.string() + ": " + std::strerror(errno));
    const int synced = ::syncfs(folder);
    const int error = errno;
    ::close(folder);
    if (synced != 0)
        throw WriteError("cannot write to " + folder_.string() + ": " + std::strerror(error));
    for (std::size_t i = 0; i < complete_; ++i)
        waiting_[i].commit(false);
    waiting_.front().sync_folder();
    for (; complete_ > 0; --complete_)
        waiting_.pop_front();
    last_whole_ = waiting_frame_;
}

}  // namespace umbrascope
