#pragma once
// What makes a USB Tarnovid board: how it identifies itself on USB and the two command codes it
// understands. The window's match settings, the simulated board, the command-line tool and the
// tests all take these from here, so a firmware change is one edit. (The gadget emulator keeps
// its own copy on purpose: it checks the tool from the outside.)

#include <cstdint>
#include <string_view>

namespace tarnovid::board {

inline constexpr std::uint16_t kVendorId = 0x1234;
inline constexpr std::uint16_t kProductId = 0x0001;
inline constexpr std::uint16_t kRelease = 0x0001; // bcdDevice
inline constexpr std::string_view kManufacturer = "Dravelko";
inline constexpr std::string_view kProduct = "USB Tarnovid";

// Command codes, byte 0 of a request; byte 1 is the output byte or 0.
inline constexpr std::uint8_t kSetOutputs = 0xFB; // bit i of byte 1 drives Di
inline constexpr std::uint8_t kReadInputs = 0xFC; // answer's byte 0: bit 0 T2, bit 1 T3, bit 2 T4

} // namespace tarnovid::board
