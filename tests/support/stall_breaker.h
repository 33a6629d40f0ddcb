#pragma once
// Ends a simulated board's write stall from another thread after a while, so that a call which
// wrongly waits for the stuck write fails its test (too slow) instead of hanging it.
//
// It waits on a flag under a mutex, never on a stop token. A stop-token wait registers a
// stop_callback, whose destructor, when request_stop() is running it on another thread, waits for
// a semaphore; libstdc++ 12 without futexes (the MinGW build) can lose that semaphore's wake-up,
// and the breaker, and the test joining it, then wait forever.

#include "sim_board.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace tarnovid::test {

class StallBreaker {
public:
    StallBreaker(std::shared_ptr<SimBoard> board, std::chrono::milliseconds after)
        : thread_([this, board = std::move(board), after] {
            std::unique_lock lock(mutex_);
            if (!wake_.wait_for(lock, after, [this] { return stopped_; }))
                board->setWriteStall(false);
        }) {}
    // Gone before its time: the stall stays.
    ~StallBreaker() {
        {
            std::lock_guard lock(mutex_);
            stopped_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    StallBreaker(const StallBreaker&) = delete;
    StallBreaker& operator=(const StallBreaker&) = delete;

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopped_ = false;
    std::thread thread_; // last: starts once the rest exists
};

} // namespace tarnovid::test
