#include "layout.h"

#include <array>

namespace tarnovid {

namespace {

using K = ControlKind;
using F = FontRole;
namespace c = colour;

constexpr WindowLayout kWindow{"Usbport01", "USB Tarnovid ", 6705, 4890, c::LightCyan, 1000};

// Creation order is stacking order: later entries lie above earlier ones, so the section captions
// cover the frame lines (drawn first, see kLines) and buttons and the status box lie on top.
// One control per line reads as the table it is.
// clang-format off
constexpr std::array kControls{
    // LEDs: Shape1(i) is output bit i; D7 leftmost. The two leftmost boxes are wider.
    ControlLayout{K::Circle, "Shape1", 7, 360, 1200, 615, 375, "", kSystemText, c::White, F::Standard, -1},
    ControlLayout{K::Circle, "Shape1", 6, 960, 1200, 615, 375, "", kSystemText, c::White, F::Standard, -1},
    ControlLayout{K::Circle, "Shape1", 5, 1680, 1200, 495, 375, "", kSystemText, c::White, F::Standard, -1},
    ControlLayout{K::Circle, "Shape1", 4, 2280, 1200, 495, 375, "", kSystemText, c::White, F::Standard, -1},
    ControlLayout{K::Circle, "Shape1", 3, 2880, 1200, 495, 375, "", kSystemText, c::White, F::Standard, -1},
    ControlLayout{K::Circle, "Shape1", 2, 3480, 1200, 495, 375, "", kSystemText, c::White, F::Standard, -1},
    ControlLayout{K::Circle, "Shape1", 1, 4080, 1200, 495, 375, "", kSystemText, c::White, F::Standard, -1},
    ControlLayout{K::Circle, "Shape1", 0, 4680, 1200, 495, 375, "", kSystemText, c::White, F::Standard, -1},
    // Input indicators: Shape2(i) is input bit i; the row reads T4, T3, T2.
    ControlLayout{K::RoundedRect, "Shape2", 2, 1800, 2640, 255, 495, "", kSystemText, c::White, F::Standard, -1},
    ControlLayout{K::RoundedRect, "Shape2", 1, 2760, 2640, 255, 495, "", kSystemText, c::White, F::Standard, -1},
    ControlLayout{K::RoundedRect, "Shape2", 0, 3600, 2640, 255, 495, "", kSystemText, c::White, F::Standard, -1},
    // Bit captions run opposite to the bit number: Label1(0) is "D7".
    ControlLayout{K::Label, "Label1", 0, 600, 840, 255, 255, "D7", kSystemText, c::LightCyan, F::Standard, 0},
    ControlLayout{K::Label, "Label1", 1, 1200, 840, 255, 255, "D6", kSystemText, c::LightCyan, F::Standard, 1},
    ControlLayout{K::Label, "Label1", 2, 1800, 840, 255, 255, "D5", kSystemText, c::LightCyan, F::Standard, 2},
    ControlLayout{K::Label, "Label1", 3, 2400, 840, 255, 255, "D4", kSystemText, c::LightCyan, F::Standard, 3},
    ControlLayout{K::Label, "Label1", 4, 3000, 840, 255, 255, "D3", kSystemText, c::LightCyan, F::Standard, 4},
    ControlLayout{K::Label, "Label1", 5, 3600, 840, 255, 255, "D2", kSystemText, c::LightCyan, F::Standard, 5},
    ControlLayout{K::Label, "Label1", 6, 4200, 840, 255, 255, "D1", kSystemText, c::LightCyan, F::Standard, 6},
    ControlLayout{K::Label, "Label1", 7, 4800, 840, 255, 255, "D0", kSystemText, c::LightCyan, F::Standard, 7},
    ControlLayout{K::Label, "Label1", 17, 3600, 2280, 255, 255, "T2", kSystemText, c::LightCyan, F::Standard, 9},
    ControlLayout{K::Label, "Label1", 18, 2760, 2280, 255, 255, "T3", kSystemText, c::LightCyan, F::Standard, 10},
    ControlLayout{K::Label, "Label1", 19, 1800, 2280, 255, 255, "T4", kSystemText, c::LightCyan, F::Standard, 11},
    ControlLayout{K::Label, "Label2", 0, 480, 120, 4695, 375, "USB TARNOVID", c::Red, c::LightCyan, F::Heading, 8},
    ControlLayout{K::Label, "Label4", 0, 840, 600, 1215, 255, "Izlazni podaci", c::DarkBlue, c::LightCyan, F::Standard, 16},
    ControlLayout{K::Label, "Label4", 1, 840, 2040, 1215, 255, "Ulazni podaci", c::DarkBlue, c::LightCyan, F::Standard, 17},
    ControlLayout{K::Label, "Label3", kSingle, 4320, 4440, 1935, 255, "Dravelko, 2026", c::Magenta, c::LightCyan, F::Credit, 15},
    ControlLayout{K::Button, "Command1", kSingle, 5640, 1080, 735, 375, "Upisi", kSystemText, c::LightOrange, F::Standard, 12},
    ControlLayout{K::Button, "Command2", kSingle, 5640, 2520, 735, 375, "Ocitaj", kSystemText, c::LightGreen, F::Standard, 13},
    ControlLayout{K::TextBox, "Text1", kSingle, 480, 3480, 4815, 285, "", c::Blue, c::LightYellow, F::Standard, 14},
};

constexpr std::array kLines{
    LineLayout{"Line2", 1, 360, 720, 5280, 720, c::Green, 2},   // output frame, top
    LineLayout{"Line2", 0, 360, 1800, 5280, 1800, c::Green, 2}, // output frame, bottom
    LineLayout{"Line3", 0, 360, 720, 360, 1800, c::Green, 2},   // output frame, left
    LineLayout{"Line4", 0, 5280, 720, 5280, 1800, c::Green, 2}, // output frame, right
    LineLayout{"Line1", 1, 360, 2160, 5280, 2160, c::Green, 2}, // input frame, top
    LineLayout{"Line1", 0, 360, 3240, 5280, 3240, c::Green, 2}, // input frame, bottom
    LineLayout{"Line4", 2, 360, 2160, 360, 3240, c::Green, 2},  // input frame, left
    LineLayout{"Line4", 1, 5280, 2160, 5280, 3240, c::Green, 2}, // input frame, right
};
// clang-format on

} // namespace

const WindowLayout& windowLayout() { return kWindow; }
std::span<const ControlLayout> controlLayouts() { return kControls; }
std::span<const LineLayout> lineLayouts() { return kLines; }
const MatchSettings& linkMatchSettings() { return kGenuineBoardLink; }

const ControlLayout* findControl(std::string_view name, int index) {
    for (const auto& def : kControls)
        if (def.name == name && def.index == index)
            return &def;
    return nullptr;
}

} // namespace tarnovid
