#pragma once
// The demo board: one simulated USB Tarnovid whose inputs T2, T3, T4 follow its outputs D0, D1,
// D2. tarnovid-demo's window and the C library's "demo" open this same board, so a program
// written against one behaves the same on the other. Each failing mode (demo_mode.h) is that
// board with its one fault.

#include "demo_mode.h"
#include "sim_board.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace tarnovid {

inline constexpr const char* kDemoBoardPath = "demo/tarnovid";

// Offers the one board of a mode at kDemoBoardPath. A board that goes away does so on a timer
// that starts when it is first opened and sleeps between its steps; the backend's destructor
// ends it.
class DemoBackend final : public SimBackend {
public:
    explicit DemoBackend(DemoMode mode);
    ~DemoBackend() override;
    DemoBackend(const DemoBackend&) = delete;
    DemoBackend& operator=(const DemoBackend&) = delete;

    std::unique_ptr<HidDevice> open(const std::string& path, std::string* error) override;

    // Ends the timer now, for a program that is exiting while the backend lives on (a board it
    // left open keeps it); the board stays plugged or unplugged as it is.
    void stopTimer();

    const std::shared_ptr<SimBoard>& board() const { return board_; }

private:
    void runTimer();

    const DemoMode mode_;
    const std::shared_ptr<SimBoard> board_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool started_ = false;
    bool stopped_ = false;
    std::thread timer_;
};

std::shared_ptr<DemoBackend> makeDemoBackend(DemoMode mode = {});

} // namespace tarnovid
