#pragma once
// Unplugs a simulated board from another thread after a while, as a user would during a call.

#include "sim_board.h"

#include <chrono>
#include <memory>
#include <thread>

namespace tarnovid::test {

class DelayedUnplug {
public:
    DelayedUnplug(std::shared_ptr<SimBoard> board, std::chrono::milliseconds after)
        : thread_([board = std::move(board), after] {
            std::this_thread::sleep_for(after);
            board->unplug();
        }) {}

private:
    std::jthread thread_; // joined on destruction
};

} // namespace tarnovid::test
