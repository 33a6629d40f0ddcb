#pragma once
// The demo board: one simulated USB Tarnovid whose inputs T2, T3, T4 follow its outputs D0, D1,
// D2. tarnovid-demo's window and the C library's "demo" open this same board, so a program
// written against one behaves the same on the other.

#include "sim_board.h"

#include <memory>

namespace tarnovid {

// A backend offering one wired board at kDemoBoardPath.
std::shared_ptr<SimBackend> makeDemoBackend();

inline constexpr const char* kDemoBoardPath = "demo/tarnovid";

} // namespace tarnovid
