#pragma once
// The value `set` writes to the outputs, as a user types it: a byte in decimal, hex or binary, or
// the names of the outputs to switch on.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

namespace tarnovid::ctl {

// "129", "0x81", "0b10000001"; "D7 D0" (names may also come as separate words or with commas,
// in either case); "none". nullopt and *error set for anything else, including values above 255.
std::optional<std::uint8_t> parseOutputValue(const QStringList& words, QString* error);

} // namespace tarnovid::ctl
