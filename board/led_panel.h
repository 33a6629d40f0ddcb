#pragma once
// The LED panel's logic: which LED a press hits, what a press does to its colour, and the output
// byte the eight colours stand for.

#include "colours.h"

#include <array>

namespace tarnovid {

inline constexpr int kLedCount = 8;
inline constexpr int kNoLed = 9;

// Index of the LED whose hit region contains (x, y) in twips, or kNoLed. Regions are tested from
// D7 to D0 and a later match wins, so where two regions overlap the lower index is chosen.
int ledAt(float x, float y);

// A press switches an LED between off (white) and on (red); any other colour counts as on.
Rgb toggledLedColour(Rgb current);

// Sum of 2^i over the LEDs that are exactly red.
int outputByte(const std::array<Rgb, kLedCount>& ledColours);

} // namespace tarnovid
