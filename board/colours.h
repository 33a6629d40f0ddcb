#pragma once
// Colours as exact 24-bit RGB values. LED and indicator state is nothing but a colour, so state
// checks compare these values exactly.

#include <QColor>
#include <cstdint>

namespace tarnovid {

using Rgb = std::uint32_t; // 0xRRGGBB

constexpr Rgb rgb(int r, int g, int b) {
    return (static_cast<Rgb>(r & 0xFF) << 16) | (static_cast<Rgb>(g & 0xFF) << 8) |
           static_cast<Rgb>(b & 0xFF);
}
inline QColor toQColor(Rgb c) {
    return QColor(int(c >> 16) & 0xFF, int(c >> 8) & 0xFF, int(c) & 0xFF);
}
inline Rgb fromQColor(const QColor& c) { return rgb(c.red(), c.green(), c.blue()); }

namespace colour {
inline constexpr Rgb White = rgb(255, 255, 255);     // LED off; input bit set
inline constexpr Rgb Red = rgb(255, 0, 0);           // LED on; heading text
inline constexpr Rgb Blue = rgb(0, 0, 255);          // input bit clear; status text
inline constexpr Rgb LightCyan = rgb(192, 255, 255); // window and label background
inline constexpr Rgb DarkBlue = rgb(0, 0, 192);      // section captions
inline constexpr Rgb Magenta = rgb(255, 0, 255);     // credit line
inline constexpr Rgb Green = rgb(0, 128, 0);         // frame lines
inline constexpr Rgb LightOrange = rgb(255, 192, 128);
inline constexpr Rgb LightGreen = rgb(128, 255, 128);
inline constexpr Rgb LightYellow = rgb(255, 255, 192);
} // namespace colour

} // namespace tarnovid
