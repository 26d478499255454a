#pragma once
// A run's frame files in one folder, each written whole or not at all and durable once named, at
// the pace of the encoders: the files of several frames are written, made durable by one sync of
// their file system, then named, and the folder synced once. A frame's files take their names only
// after their bytes are on the disk, so a crash or a kill leaves every frame whole or absent.

#include <chrono>
#include <deque>
#include <filesystem>
#include <string>
#include <string_view>

#include "output/output_file.hpp"

namespace umbrascope {

class FrameFiles {
public:
    explicit FrameFiles(std::filesystem::path folder) : folder_(std::move(folder)) {}

    // Writes one file of the current frame, named when its frame's group is committed. The folder
    // is made at the first file. Throws WriteError, after naming the files of the frames before.
    void add(const std::string& name, std::string_view bytes);
    // The current frame is complete: its files are named with the next group, at the latest after
    // a few frames or half a second. Throws WriteError.
    void end_frame(int ordinal);
    // Names the files of every complete frame; those of a frame not ended are left out, and go
    // with this object. Throws WriteError.
    void commit();
    // The last frame whose files are all named and durable; 0 for none.
    [[nodiscard]] int last_whole() const { return last_whole_; }

private:
    std::filesystem::path folder_;
    bool folder_made_ = false;
    std::deque<OutputFile> waiting_;
    std::size_t complete_ = 0;  // the waiting files of ended frames, first in waiting_
    int waiting_frame_ = 0;  // the last frame whose files wait
    int last_whole_ = 0;
    std::chrono::steady_clock::time_point oldest_{};
};

}  // namespace umbrascope
