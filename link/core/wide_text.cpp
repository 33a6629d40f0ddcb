#include "wide_text.h"

namespace tarnovid {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void appendUtf8(std::string& out, char32_t c) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        c = kReplacement;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

bool isHigh(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool isLow(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

} // namespace

std::string utf8FromUtf32(const char32_t* text) {
    std::string out;
    for (; text != nullptr && *text != 0; ++text)
        appendUtf8(out, *text);
    return out;
}

std::string utf8FromUtf16(const char16_t* text) {
    std::string out;
    for (; text != nullptr && *text != 0; ++text) {
        const char16_t unit = *text;
        if (isHigh(unit) && isLow(text[1])) {
            appendUtf8(out,
                       0x10000 + ((char32_t(unit) - 0xD800) << 10) + (char32_t(text[1]) - 0xDC00));
            ++text;
        } else {
            appendUtf8(out, unit); // a lone surrogate becomes U+FFFD there
        }
    }
    return out;
}

std::string utf8FromWide(const wchar_t* text) {
    if (text == nullptr)
        return {};
    // Copy unit by unit: wchar_t and char32_t/char16_t are distinct types even when they share
    // a size, and reinterpreting one as the other is not allowed.
    if constexpr (sizeof(wchar_t) == sizeof(char32_t)) {
        std::u32string units;
        for (; *text != 0; ++text)
            units += static_cast<char32_t>(*text);
        return utf8FromUtf32(units.c_str());
    } else {
        std::u16string units;
        for (; *text != 0; ++text)
            units += static_cast<char16_t>(*text);
        return utf8FromUtf16(units.c_str());
    }
}

} // namespace tarnovid
