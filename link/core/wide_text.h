#pragma once
// UTF-8 from the wide strings the system's HID access hands out. wchar_t is UTF-32 on Linux and
// macOS and UTF-16 on Windows, so both decoders exist; malformed units become U+FFFD.

#include <string>

namespace tarnovid {

std::string utf8FromUtf32(const char32_t* text); // nullptr gives ""
std::string utf8FromUtf16(const char16_t* text); // nullptr gives ""
std::string utf8FromWide(const wchar_t* text);   // nullptr gives ""

} // namespace tarnovid
