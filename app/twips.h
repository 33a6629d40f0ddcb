#pragma once
// The window is laid out in twips (1/1440 inch), as the board's original front panel was. Qt works
// in device-independent pixels; at the reference 96 dpi one pixel is 15 twips, and Qt's high-DPI
// scaling maps those pixels onto denser screens.

namespace tarnovid {

inline constexpr int kTwipsPerPixel = 15;

constexpr int twipsToPixels(int twips) { return twips / kTwipsPerPixel; }
constexpr float pixelsToTwips(double pixels) { return static_cast<float>(pixels * kTwipsPerPixel); }

} // namespace tarnovid
