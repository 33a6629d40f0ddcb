#pragma once
// The window definition as data: every control with its name, index, geometry (twips), texts,
// colours, font and tab index, plus the window's own properties. The window is built from these
// tables; nothing else positions a control.

#include "colours.h"
#include "link_settings.h"

#include <span>
#include <string_view>

namespace tarnovid {

enum class ControlKind { Label, Circle, RoundedRect, Button, TextBox };
enum class FontRole { Standard, Heading, Credit };

// Colour slots that follow the system scheme rather than a fixed value.
inline constexpr Rgb kSystemText = 0xFF000000u;

inline constexpr int kSingle = -1; // index of a control that is not part of an array

struct ControlLayout {
    ControlKind kind;
    std::string_view name;
    int index;
    int left, top, width, height; // twips
    std::string_view text;        // caption, label text; empty for shapes and the status box
    Rgb fore;                     // text colour; outline colour for shapes
    Rgb back;                     // background, interior or button face
    FontRole font;
    int tabIndex; // -1 for controls without one
};

struct LineLayout {
    std::string_view name;
    int index;
    int x1, y1, x2, y2; // twips
    Rgb colour;
    int widthPixels;
};

struct WindowLayout {
    std::string_view name;
    std::string_view title;
    int clientWidth, clientHeight; // twips
    Rgb back;
    int pollIntervalMs; // the connection poll timer
};

const WindowLayout& windowLayout();
std::span<const ControlLayout> controlLayouts();
std::span<const LineLayout> lineLayouts();
// The link control's match settings.
const MatchSettings& linkMatchSettings();

// Finds a control of the table; nullptr if there is none of that name and index.
const ControlLayout* findControl(std::string_view name, int index = kSingle);

} // namespace tarnovid
