#pragma once
// The layout table gives every position and size in twips (1/1440 inch), a unit that says how big
// a control is on paper, not on a particular screen. Qt works in device-independent pixels; at the
// reference 96 dpi one pixel is 15 twips, and Qt's high-DPI scaling maps those pixels onto denser
// screens.

namespace tarnovid {

inline constexpr int kTwipsPerPixel = 15;

constexpr int twipsToPixels(int twips) { return twips / kTwipsPerPixel; }
constexpr float pixelsToTwips(double pixels) { return static_cast<float>(pixels * kTwipsPerPixel); }

} // namespace tarnovid
