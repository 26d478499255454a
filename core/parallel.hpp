#pragma once
// Work shared out among threads: each takes the next piece until none is left.

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace umbrascope {

// The threads worth starting for `pieces` pieces of work: one a core, at most `most`.
[[nodiscard]] inline std::size_t threads_for(std::size_t pieces, std::size_t most = 8)
{
    const std::size_t cores = std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, most);
    return std::clamp<std::size_t>(pieces, 1, cores);
}

// Runs work(thread, piece) for every piece below `pieces` on `threads` threads, the caller's
// among them (`thread` numbers them from 0, for state of their own). After a piece fails no more
// are taken, and the failure of the lowest piece tried is thrown once all have stopped.
template <class Work>
void share_out(std::size_t pieces, std::size_t threads, const Work& work)
{
    std::atomic<std::size_t> next{0};
    std::atomic<bool> stop{false};
    std::mutex guard;
    std::size_t failed_at = pieces;
    std::exception_ptr failure;
    const auto run = [&](std::size_t thread) {
        for (std::size_t piece = next++; piece < pieces && !stop; piece = next++) {
            try {
                work(thread, piece);
            } catch (...) {
                stop = true;
                const std::lock_guard<std::mutex> lock(guard);
                if (piece < failed_at) {
                    failed_at = piece;
                    failure = std::current_exception();
                }
            }
        }
    };
    std::vector<std::thread> helpers;
    for (std::size_t t = 1; t < threads; ++t)
        helpers.emplace_back(run, t);
    run(0);
    for (std::thread& helper : helpers)
        helper.join();
    if (failure)
        std::rethrow_exception(failure);
}

}  // namespace umbrascope
