#pragma once
// Ends a simulated board's write stall from another thread after a while, so that a call which
// wrongly waits for the stuck write fails its test (too slow) instead of hanging it.

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
        : thread_([board = std::move(board), after](std::stop_token stop) {
            std::mutex mutex;
            std::condition_variable_any wake;
            std::unique_lock lock(mutex);
            if (!wake.wait_for(lock, stop, after, [] { return false; }) && !stop.stop_requested())
                board->setWriteStall(false);
        }) {}

private:
    std::jthread thread_; // asked to stop and joined on destruction
};

} // namespace tarnovid::test
