#pragma once
// Encodes and writes frames on a second thread while the next pass draws. Jobs run one at a time
// in the order given; at most `depth` wait, so memory stays flat however long the run. The first
// job that fails stops the rest, and its error comes back from the next submit() or finish().

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace umbrascope {

class BackgroundWriter {
public:
    explicit BackgroundWriter(std::size_t depth = 2);
    ~BackgroundWriter();  // drops what waits, then waits for the job running
    BackgroundWriter(const BackgroundWriter&) = delete;
    BackgroundWriter& operator=(const BackgroundWriter&) = delete;

    void submit(std::function<void()> job);  // throws the WriteError of an earlier job
    void finish();                           // waits for every job; throws the first WriteError
    void drop();                             // drops what waits and waits for the job running

private:
    void run();
    void rethrow_locked();

    std::size_t depth_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> jobs_;
    bool busy_ = false;
    bool stopping_ = false;
    std::optional<std::string> error_;
    std::thread worker_;
};

}  // namespace umbrascope
