#include "output/background_writer.hpp"

#include "output/output_file.hpp"

namespace umbrascope {

BackgroundWriter::BackgroundWriter(std::size_t depth) : depth_(depth), worker_([this] { run(); }) {}

BackgroundWriter::~BackgroundWriter()
{
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
        jobs_.clear();
    }
    changed_.notify_all();
    worker_.join();
}

void BackgroundWriter::rethrow_locked()
{
    if (error_)
        throw WriteError(*error_);
}

void BackgroundWriter::submit(std::function<void()> job)
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return jobs_.size() < depth_ || error_; });
    rethrow_locked();
    jobs_.push_back(std::move(job));
    lock.unlock();
    changed_.notify_all();
}

void BackgroundWriter::drop()
{
    std::unique_lock lock(mutex_);
    jobs_.clear();
    changed_.notify_all();
    changed_.wait(lock, [this] { return !busy_; });
}

void BackgroundWriter::finish()
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return (jobs_.empty() && !busy_) || error_; });
    rethrow_locked();
}

void BackgroundWriter::run()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return !jobs_.empty() || stopping_; });
        if (stopping_)
            return;
        std::function<void()> job = std::move(jobs_.front());
        jobs_.pop_front();
        busy_ = true;
        lock.unlock();
        std::optional<std::string> failure;
        try {
            job();
        } catch (const WriteError& e) {
            failure = e.what();
        }
        lock.lock();
        busy_ = false;
        if (failure && !error_) {
            error_ = std::move(failure);
            jobs_.clear();
        }
        changed_.notify_all();
    }
}

}  // namespace umbrascope
