#include "led_panel.h"

namespace tarnovid {

namespace {

struct HitRegion {
    int led;
    float fromX; // included
    float toX;   // excluded
};

// Each region starts at its LED's left edge and is 615 twips wide, wider than the six narrow
// LEDs; hence the 15-twip overlaps and the gap between D6 and D5.
constexpr std::array<HitRegion, kLedCount> kRegions{{
    {7, 360, 975},
    {6, 960, 1575},
    {5, 1680, 2295},
    {4, 2280, 2895},
    {3, 2880, 3495},
    {2, 3480, 4095},
    {1, 4080, 4695},
    {0, 4680, 5295},
}};
constexpr float kTop = 1200;    // excluded
constexpr float kBottom = 1575; // excluded

} // namespace

int ledAt(float x, float y) {
    int chosen = kNoLed;
    for (const auto& region : kRegions)
        if (x >= region.fromX && x < region.toX && y > kTop && y < kBottom)
            chosen = region.led;
    return chosen;
}

Rgb toggledLedColour(Rgb current) { return current == colour::White ? colour::Red : colour::White; }

int outputByte(const std::array<Rgb, kLedCount>& ledColours) {
    int value = 0;
    for (int i = 0; i < kLedCount; ++i)
        if (ledColours[std::size_t(i)] == colour::Red)
            value += 1 << i;
    return value;
}

} // namespace tarnovid
