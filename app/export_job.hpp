#pragma once
// A whole run exported to an animation (or a folder of PNG frames) on a worker thread, from the
// input files as they are now, while the window goes on with its own animation.

#include <QObject>
#include <atomic>
#include <filesystem>
#include <thread>

#include "output/frame_picture.hpp"

namespace umbrascope {

class ExportJob : public QObject {
    Q_OBJECT

public:
    // `target` ending in .gif, .mp4 or .webm is an animation; anything else a folder of frames.
    ExportJob(std::filesystem::path input, std::filesystem::path target, FrameOptions options, bool large);
    ~ExportJob() override;  // cancels and waits

    void start();
    void cancel() { cancelled_ = true; }
    [[nodiscard]] bool running() const { return running_; }

signals:
    void progress(int done, int rows);
    // Empty when the file was written; otherwise why not ("cancelled", or the write error).
    void finished(const QString& problem, int passes, int failures);

private:
    void run();

    std::filesystem::path input_;
    std::filesystem::path target_;
    FrameOptions options_;
    bool large_;
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> running_{false};
    std::thread worker_;
};

}  // namespace umbrascope
