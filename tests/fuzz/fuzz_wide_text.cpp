// The strings hidapi hands over as wchar_t (manufacturer, product, serial, error text) come from
// the device and the kernel unchecked: any unit values, lone surrogates, or no string at all.
// Whatever comes in, out must come valid UTF-8 that keeps every valid character and puts exactly
// one U+FFFD for each malformed unit.
//
// Input: one selector byte (0 UTF-32, 1 UTF-16, 2 wchar_t, 3 a missing string), then code units
// little-endian, 4 or 2 bytes each; the first zero unit ends the string.

#include "fuzz_input.h"
#include "wide_text.h"

#include <string>

using namespace tarnovid;
using namespace tarnovid::fuzz;

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool isScalar(char32_t c) { return c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF); }

std::u32string expectedFromUtf32(const std::u32string& units) {
    std::u32string out;
    for (char32_t u : units)
        out += isScalar(u) ? u : kReplacement;
    return out;
}

std::u32string expectedFromUtf16(const std::u16string& units) {
    std::u32string out;
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t u = units[i];
        const bool high = u >= 0xD800 && u <= 0xDBFF;
        if (high && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            out += 0x10000 + ((char32_t(u) - 0xD800) << 10) + (char32_t(units[i + 1]) - 0xDC00);
            ++i;
        } else {
            out += isScalar(u) ? char32_t(u) : kReplacement;
        }
    }
    return out;
}

void checkDecoded(const std::string& utf8, const std::u32string& expected) {
    std::u32string decoded;
    FUZZ_CHECK(decodeUtf8(utf8, &decoded));
    FUZZ_CHECK(decoded == expected);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    switch (in.u8() % 4) {
    case 0: {
        std::u32string units;
        while (!in.empty() && units.size() < 4096) {
            const char32_t u = in.u32();
            if (u == 0)
                break;
            units += u;
        }
        checkDecoded(utf8FromUtf32(units.c_str()), expectedFromUtf32(units));
        break;
    }
    case 1: {
        std::u16string units;
        while (!in.empty() && units.size() < 4096) {
            const char16_t u = in.u16();
            if (u == 0)
                break;
            units += u;
        }
        checkDecoded(utf8FromUtf16(units.c_str()), expectedFromUtf16(units));
        break;
    }
    case 2: {
        std::wstring units;
        std::u32string asUtf32;
        while (!in.empty() && units.size() < 4096) {
            const std::uint32_t u = sizeof(wchar_t) == 4 ? in.u32() : in.u16();
            if (u == 0)
                break;
            units += static_cast<wchar_t>(u);
            asUtf32 +=
                static_cast<char32_t>(static_cast<std::make_unsigned_t<wchar_t>>(units.back()));
        }
        const std::string utf8 = utf8FromWide(units.c_str());
        if constexpr (sizeof(wchar_t) == 4) {
            checkDecoded(utf8, expectedFromUtf32(asUtf32));
        } else {
            FUZZ_CHECK(decodeUtf8(utf8));
        }
        break;
    }
    default:
        FUZZ_CHECK(utf8FromUtf32(nullptr).empty());
        FUZZ_CHECK(utf8FromUtf16(nullptr).empty());
        FUZZ_CHECK(utf8FromWide(nullptr).empty());
        break;
    }
    return 0;
}
