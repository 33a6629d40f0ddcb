#pragma once
// Input indicators show a set input bit white and a clear one blue.

#include "colours.h"

namespace tarnovid {

inline constexpr int kIndicatorCount = 3; // T2, T3, T4 = input bits 0, 1, 2

constexpr Rgb indicatorColour(int inputByte, int bit) {
    return (inputByte & (1 << bit)) != 0 ? colour::White : colour::Blue;
}

} // namespace tarnovid
