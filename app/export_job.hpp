#pragma once
// A whole run exported to an animation (or a folder of PNG frames) on a worker thread, from the
// input files as they are now, while the window goes on with its own animation: the exporter's
// run, so a failed pass ends it and leaves a film already there as it was, unless asked to go on.

#include <QObject>
#include <atomic>
#include <filesystem>
#include <thread>

#include "run/export_run.hpp"

namespace umbrascope {

class ExportJob : public QObject {
    Q_OBJECT

public:
    // `target` ending in .gif, .mp4 or .webm is an animation; anything else a folder of frames.
    ExportJob(std::filesystem::path input, std::filesystem::path target, FrameOptions options, bool large,
              bool keep_going);
    ~ExportJob() override;  // cancels and waits
    // Where `input` is a part of a longer sky: its first row there less one, and the page's title.
    void set_part(long row_offset, std::string title)
    {
        row_offset_ = row_offset;
        title_ = std::move(title);
    }

    void start();
    void cancel() { cancelled_ = true; }
    [[nodiscard]] bool running() const { return running_; }

signals:
    void progress(int done, int rows);
    // `problem` is empty when the run was written; otherwise why not ("cancelled", or the write
    // error). `kept` says which pass failed, why, and what the run left.
    void finished(const QString& problem, const QString& kept, int passes, int failures);

private:
    long row_offset_ = 0;
    std::string title_;
    void run();

    std::filesystem::path input_;
    std::filesystem::path target_;
    FrameOptions options_;
    bool large_;
    bool keep_going_;
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> running_{false};
    std::thread worker_;
};

}  // namespace umbrascope
